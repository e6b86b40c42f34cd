#include "cli.h"

// "ftp" is handed over to velmaric-ftp, so that libcurl and its libraries load only for FTP.
std::vector<CliCommand> ftpCommands()
{
    return {
        {"ftp", "ftp ls|get|put ARGS",
         "FTP: ls URL, get URL LOCAL, put LOCAL URL [--ascii] [--active] [--proxy TEXT]"
         " [--cacert FILE] [--trust-new];\n"
         "      URL ftp://, ftpes:// (TLS required), ftps:// (implicit TLS) or sftp://,\n"
         "      then [user[:password]@]host[:port]/path. TLS servers are verified against\n"
         "      the system's CAs (or --cacert FILE), host name included; one that does not\n"
         "      verify is refused with its SHA-256 fingerprint; --trust-new trusts it and\n"
         "      keeps its key in ~/.config/velmaric/known_hosts; a changed key is refused.",
         [](const std::vector<std::string> &args) { return execCompanion("velmaric-ftp", args); }}};
}

#include "cli.h"

// "ftp" is handed over to velmaric-ftp, so that libcurl and its libraries load only for FTP.
std::vector<CliCommand> ftpCommands()
{
    return {
        {"ftp", "ftp ls|get|put ARGS",
         "FTP: ls URL, get URL LOCAL, put LOCAL URL [--ascii] [--active] [--proxy TEXT]"
         " [--cacert FILE] [--trust-new];\n"
         "      URL ftp://, ftpes:// (TLS required), ftps:// (implicit TLS) or sftp://,\n"
         "      then [user[:password]@]host[:port]/path (without a password: ~/.netrc; for\n"
         "      sftp also ssh-agent and ~/.ssh/id_*). TLS servers are verified against the\n"
         "      system's CAs (or --cacert FILE), host name included; SSH host keys against\n"
         "      ~/.ssh/known_hosts. A server that does not verify is refused with its\n"
         "      fingerprint before anything secret is sent; --trust-new trusts it and keeps\n"
         "      its key ($XDG_CONFIG_HOME/velmaric/known_hosts, or ~/.ssh/known_hosts for\n"
         "      sftp); a changed key is always refused.",
         [](const std::vector<std::string> &args) { return execCompanion("velmaric-ftp", args); }}};
}

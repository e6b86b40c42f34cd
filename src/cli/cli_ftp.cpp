#include "cli.h"

// "ftp" is handed over to velmaric-ftp, so that libcurl and its libraries load only for FTP.
std::vector<CliCommand> ftpCommands()
{
    return {{"ftp", "ftp ls|get|put ARGS",
             "FTP: ls URL, get URL LOCAL, put LOCAL URL [--ascii] [--active] [--proxy TEXT]"
             " [--cacert FILE] [--trust-new]; URL ftp://, ftpes://, ftps:// or sftp://"
             "[user[:password]@]host[:port]/path; a server that can't be verified is refused"
             " unless --trust-new trusts it (SFTP: adds it to ~/.ssh/known_hosts), a changed"
             " key always",
             [](const std::vector<std::string> &args) {
                 return execCompanion("velmaric-ftp", args);
             }}};
}

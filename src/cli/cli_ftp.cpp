#include "cli.h"

// "ftp" is handed over to velmaric-ftp, so that libcurl and its libraries load only for FTP.
std::vector<CliCommand> ftpCommands()
{
    return {{"ftp", "ftp ls|get|put ARGS",
             "FTP: ls URL, get URL LOCAL, put LOCAL URL [--ascii] [--active] [--proxy TEXT]"
             " [--trust-new]; URL ftp://[user[:password]@]host[:port]/path or sftp://...;"
             " an unknown SSH host key is refused unless --trust-new adds it to"
             " ~/.ssh/known_hosts, a changed one always",
             [](const std::vector<std::string> &args) {
                 return execCompanion("velmaric-ftp", args);
             }}};
}

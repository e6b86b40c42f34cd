#include "cli.h"

#include "iphlpapi.h"
#include "tcptexts.h"
#include "winsock.h"

#include <cstdio>
#include <string>

namespace {

int usageError(const char *usage)
{
    std::fprintf(stderr, "Usage: velmaric-cli %s\n", usage);
    return 2;
}

int tcpStats(const std::vector<std::string> &args)
{
    if (!args.empty())
        return usageError("tcpstats");
    iphlp::MIB_TCPSTATS stats;
    if (const uint32_t e = iphlp::GetTcpStatistics(&stats)) {
        std::fprintf(stderr, "velmaric-cli: cannot read the TCP statistics (error %u)\n", e);
        return 1;
    }
    for (int row = 0; row < iphlp::TcpStatRowCount; ++row)
        std::printf("%s\t%s\n", iphlp::TcpStatRows[row].caption,
                    iphlp::tcpStatValueText(row, stats).c_str());
    return 0;
}

int tcpTable(const std::vector<std::string> &args)
{
    if (!args.empty())
        return usageError("tcptable");
    // One dump, not the size-query-then-fill pair: the table may grow in between.
    std::vector<iphlp::MIB_TCPROW> rows;
    if (const uint32_t e = iphlp::readTcpRows(rows)) {
        std::fprintf(stderr, "velmaric-cli: cannot read the TCP table (error %u)\n", e);
        return 1;
    }
    iphlp::sortTcpRows(rows);

    std::string out;
    out.reserve(rows.size() * 56);
    // Rows of one listener share their local address; convert each address once in a row.
    uint32_t lastAddress[2] = {1, 1};
    std::string lastText[2] = {winsock::inet_ntoa(1), winsock::inet_ntoa(1)};
    auto address = [&](int slot, uint32_t a) -> const std::string & {
        if (a != lastAddress[slot]) {
            lastAddress[slot] = a;
            lastText[slot] = winsock::inet_ntoa(a);
        }
        return lastText[slot];
    };
    for (const auto &r : rows) {
        out += address(0, r.dwLocalAddr);
        out += '\t';
        out += std::to_string(winsock::ntohs(r.dwLocalPort));
        out += '\t';
        out += address(1, r.dwRemoteAddr);
        out += '\t';
        out += std::to_string(winsock::ntohs(r.dwRemotePort));
        out += '\t';
        out += std::to_string(r.dwState);
        out += '\t';
        out += iphlp::tcpStateText(r.dwState);
        out += '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::perror("velmaric-cli: writing the table");
        return 1;
    }
    return 0;
}

} // namespace

std::vector<CliCommand> tcpCommands()
{
    return {
        {"tcpstats", "tcpstats", "the fifteen TCP counters, caption<TAB>value", tcpStats},
        {"tcptable", "tcptable",
         "IPv4 TCP connections, sorted: local address, port, remote address, port, state, text",
         tcpTable},
    };
}

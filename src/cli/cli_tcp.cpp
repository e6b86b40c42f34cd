#include "cli.h"

#include "iphlpapi.h"
#include "tcpconnections.h"
#include "tcptexts.h"
#include "winsock.h"

#include <sys/socket.h>

#include <cstdio>
#include <string>
#include <unordered_map>

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

bool writeOut(const std::string &out)
{
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::perror("velmaric-cli: writing the table");
        return false;
    }
    return true;
}

// The table beyond the window: IPv6 rows, both families (IPv4 first), the owning processes.
int tcpTableOf(int family, bool withOwners)
{
    const auto owners = withOwners ? iphlp::socketOwners()
                                   : std::unordered_map<uint32_t, std::string>();
    std::vector<iphlp::TcpConnection> rows;
    if (const uint32_t e = iphlp::readTcpConnections(family, rows)) {
        std::fprintf(stderr, "velmaric-cli: cannot read the TCP table (error %u)\n", e);
        return 1;
    }
    iphlp::sortTcpConnections(rows);
    // Written in pieces: a buffer the size of the whole table would cost more to map than
    // the text costs to write.
    std::string out;
    out.reserve(1 << 18);
    // Neighbouring rows often share an address; each is converted once in a row.
    InetAddress last[2];
    std::string lastText[2];
    auto text = [&](int slot, const InetAddress &a) -> const std::string & {
        if (a != last[slot] || lastText[slot].empty()) {
            last[slot] = a;
            lastText[slot] = a.text();
        }
        return lastText[slot];
    };
    for (const auto &r : rows) {
        out += text(0, r.local);
        out += '\t';
        out += std::to_string(r.localPort);
        out += '\t';
        out += text(1, r.remote);
        out += '\t';
        out += std::to_string(r.remotePort);
        out += '\t';
        out += std::to_string(r.state);
        out += '\t';
        out += iphlp::tcpStateText(r.state);
        if (withOwners) {
            auto it = r.inode ? owners.find(r.inode) : owners.end();
            out += '\t';
            out += it == owners.end() ? std::string("-") : it->second;
        }
        out += '\n';
        if (out.size() > (1 << 18) - 512) {
            if (!writeOut(out))
                return 1;
            out.clear();
        }
    }
    return writeOut(out) ? 0 : 1;
}

int tcpTable(const std::vector<std::string> &args)
{
    if (!args.empty()) {
        int family = AF_INET;
        bool all = false, owners = false;
        for (const auto &a : args) {
            if (a == "-4" || a == "-6")
                family = a == "-4" ? AF_INET : AF_INET6;
            else if (a == "--all")
                all = true;
            else if (a == "-p")
                owners = true;
            else {
                std::fprintf(stderr, "velmaric-cli: unknown option '%s'\n", a.c_str());
                return usageError("tcptable [-4|-6|--all] [-p]");
            }
        }
        return tcpTableOf(all ? AF_UNSPEC : family, owners);
    }
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
    return writeOut(out) ? 0 : 1;
}

} // namespace

std::vector<CliCommand> tcpCommands()
{
    return {
        {"tcpstats", "tcpstats", "the fifteen TCP counters, caption<TAB>value", tcpStats},
        {"tcptable", "tcptable [-4|-6|--all] [-p]",
         "TCP connections, sorted: local address, port, remote address, port, state, text; "
         "IPv4 (also -4), IPv6 with -6, both with --all; -p adds the owners (pid/command, \"-\" "
         "when "
         "not visible)",
         tcpTable},
    };
}

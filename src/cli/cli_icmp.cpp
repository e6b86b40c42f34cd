#include "cli.h"
#include "cliargs.h"

#include "echomodule.h"
#include "hostlookup.h"
#include "traceroute.h"
#include "winsock.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

// ping and trace print what the ping and trace-route windows show, with their texts.
namespace {

int usage(const char *text)
{
    std::fprintf(stderr, "Usage: velmaric-cli %s\n", text);
    return 2;
}

void printMessage(const std::string &text, int) { std::fprintf(stderr, "%s\n", text.c_str()); }

int ping(const std::vector<std::string> &args)
{
    // Any option, before or after the host, selects the counting ping; without one, the
    // window's single echo (whose TEXT may itself start with a dash when it comes second).
    const auto isOption = [](const std::string &a) {
        return a == "--" ||
               (a.size() >= 2 && a[0] == '-' &&
                std::string_view(a).substr(1, 1).find_first_of("46ciWs") == 0 &&
                (a.size() == 2 || std::string_view("ciWs").find(a[1]) != std::string_view::npos));
    };
    if ((!args.empty() && args[0].size() > 1 && args[0][0] == '-') ||
        std::any_of(args.begin(), args.end(), isOption))
        return countingPing(args);
    if (args.empty() || args.size() > 2)
        return usage("ping ADDRESS [TEXT]");
    if (!Module1::StartWinsock()) {
        printMessage(Module1::StartFailedText, vbOKOnly);
        return 1;
    }
    EchoReplyRecord record;
    bool opened = false;
    const int32_t status = SendEcho(args[0], args.size() > 1 ? args[1] : std::string(), record,
                                    &opened);
    if (status == 0 && !opened) {
        printMessage(EchoNotPermittedText, vbExclamation);
        Module1::StopWinsock(printMessage);
        return 1;
    }
    const PingFieldTexts f = pingFieldTexts(status, record);
    std::printf("Return Status : %s\n", f.status.c_str());
    std::printf("Address(decimal) : %s\n", f.address.c_str());
    std::printf("Round Trip Time : %s\n", f.roundTripTime.c_str());
    std::printf("Data Packet Size : %s\n", f.dataSize.c_str());
    std::printf("Data Returned : %s\n", f.data.value_or(std::string()).c_str());
    std::printf("Data Pointer : %s\n", f.dataPointer.c_str());
    Module1::StopWinsock(printMessage);
    return status == 0 ? 0 : 1;
}

} // namespace

int windowTrace(const std::string &host, bool resolveNames)
{
    TraceRoute::Settings settings;
    settings.resolveNames = resolveNames;
    if (!Module2::StartWinsock()) {
        printMessage(Module2::StartFailedText, vbOKOnly);
        return 1;
    }
    const std::string addressText = HostNameToIPText(host);
    const uint32_t destination = winsock::inet_addr(addressText);
    IcmpFile handle;
    if (!handle) {
        printMessage(Module2::NoHandleText, vbOKOnly);
        printMessage(EchoNotPermittedText, vbExclamation);
        Module2::StopWinsock(printMessage);
        return 1;
    }
    cliPrintWindowText(TraceHeader(host));
    // The window's size box starts empty, which gives its smallest packet.
    TraceRoute route(handle.handle(), destination, addressText, correctPacketSize({}).size,
                     settings);
    while (!route.finished())
        if (auto step = route.next(settings.timeoutMs))
            cliPrintWindowText(step->hopLine);
    if (route.complete())
        cliPrintWindowText(std::string(TraceCompleteText) + "\n");
    Module2::StopWinsock(printMessage);
    if (addressText.empty()) {
        std::fprintf(stderr, "velmaric-cli: host name '%s' not found\n", host.c_str());
        return 1;
    }
    return route.complete() ? 0 : 1;
}

std::vector<CliCommand> icmpCommands()
{
    return {
        {"ping", "ping ADDRESS [TEXT]", "one ICMP echo carrying TEXT, as the Ping window", ping},
        {"ping", "ping [-4|-6] [-c COUNT] [-i SECONDS] [-W SECONDS] [-s SIZE] HOST [TEXT]",
         "echoes as ping sends them: a line per reply, then the statistics; -c echoes to send "
         "(else until Ctrl+C), -i seconds between them (1; below 0.2 root only), -W seconds to "
         "wait for replies after the last echo (10), -s data bytes (56)",
         ping},
        {"trace", "trace [-4|-6] [--resolve] HOST",
         "route to HOST, as the Trace Route window (--resolve: name each hop); IPv6 with -6",
         extendedTrace},
        {"trace", "trace [-4|-6] --report [--cycles N] [--interval SECONDS] [--resolve] HOST",
         "every hop probed each cycle (10 cycles, 1 s apart): loss and round trips per hop, "
         "as mtr --report",
         extendedTrace},
    };
}

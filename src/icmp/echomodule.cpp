#include "echomodule.h"

#include "winsock.h"

#include <algorithm>
#include <cstring>

std::string EchoStatusText(int32_t status)
{
    const char *text;
    switch (status) {
    case -1: text = "inet_addr: bad IP format"; break;
    case 0: text = "ip success"; break;
    case 500: text = "ping timeout"; break;
    case 11001: text = "ip buf too_small"; break;
    case 11002: text = "ip dest net unreachable"; break;
    case 11003: text = "ip dest host unreachable"; break;
    case 11004: text = "ip dest prot unreachable"; break;
    case 11005: text = "ip dest port unreachable"; break;
    case 11006: text = "ip no resources"; break;
    case 11007: text = "ip bad option"; break;
    case 11008: text = "ip hw_error"; break;
    case 11009: text = "ip packet too_big"; break;
    case 11010: text = "ip req timed out"; break;
    case 11011: text = "ip bad req"; break;
    case 11012: text = "ip bad route"; break;
    case 11013: text = "ip ttl expired transit"; break;
    case 11014: text = "ip ttl expired reassem"; break;
    case 11015: text = "ip param_problem"; break;
    case 11016: text = "ip source quench"; break;
    case 11017: text = "ip option too_big"; break;
    case 11018: text = "ip bad destination"; break;
    case 11019: text = "ip addr deleted"; break;
    case 11020: text = "ip spec mtu change"; break;
    case 11021: text = "ip mtu_change"; break;
    case 11022: text = "ip unload"; break;
    case 11023: text = "ip addr added"; break;
    case 11050: text = "ip general failure"; break;
    case 11255: text = "ip pending"; break;
    default: text = "unknown  msg returned"; break;
    }
    return std::to_string(status) + "   [ " + text + " ]";
}

int32_t SendEcho(const std::string &address, const std::string &text, EchoReplyRecord &record,
                 bool *handleOpened)
{
    if (handleOpened)
        *handleOpened = false;
    uint32_t destination = winsock::inet_addr(address);
    if (destination == winsock::INADDR_NONE_VALUE)
        return -1;
    IcmpFile handle;
    if (!handle)
        return 0;
    if (handleOpened)
        *handleOpened = true;
    // The echo service takes at most 65535 bytes; the system refuses far less anyway.
    auto size = uint16_t(std::min<size_t>(text.size(), 0xFFFF));
    IcmpSendEcho(handle.handle(), destination, text.data(), size, nullptr, &record, sizeof record,
                 500);
    return record.Reply.Status;
}

PingFieldTexts pingFieldTexts(int32_t status, const EchoReplyRecord &record)
{
    PingFieldTexts f;
    f.status = EchoStatusText(status);
    f.address = std::to_string(int32_t(record.Reply.Address));
    f.roundTripTime = std::to_string(record.Reply.RoundTripTime) + " ms";
    uint32_t sizeField = record.Reply.DataSize | uint32_t(record.Reply.Reserved) << 16;
    f.dataSize = std::to_string(sizeField) + " bytes";
    if (record.Data[0] != '\0')
        f.data = std::string(record.Data, strnlen(record.Data, sizeof record.Data));
    f.dataPointer = std::to_string(int32_t(record.Reply.DataPointer));
    return f;
}

namespace {
bool startWinsock() { return winsock::WSAStartup(0x0101) == 0; }
void stopWinsock(const MessageSink &show, const char *text)
{
    if (winsock::WSACleanup() != 0 && show)
        show(text, vbExclamation);
}
} // namespace

bool Module1::StartWinsock() { return startWinsock(); }
void Module1::StopWinsock(const MessageSink &show) { stopWinsock(show, CleanupFailedText); }
bool Module2::StartWinsock() { return startWinsock(); }
void Module2::StopWinsock(const MessageSink &show) { stopWinsock(show, CleanupFailedText); }

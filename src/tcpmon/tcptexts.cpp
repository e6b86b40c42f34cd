#include "tcptexts.h"

namespace iphlp {

const TcpStatRow TcpStatRows[TcpStatRowCount] = {
    {"time-out algorithm", &MIB_TCPSTATS::dwRtoAlgorithm},
    {"minimum time-out", &MIB_TCPSTATS::dwRtoMin},
    {"maximum time-out", &MIB_TCPSTATS::dwRtoMax},
    {"maximum connections", &MIB_TCPSTATS::dwMaxConn},
    {"active opens", &MIB_TCPSTATS::dwActiveOpens},
    {"passive opens", &MIB_TCPSTATS::dwPassiveOpens},
    {"failed attempts", &MIB_TCPSTATS::dwAttemptFails},
    {"established connections reset", &MIB_TCPSTATS::dwEstabResets},
    {"established connections", &MIB_TCPSTATS::dwCurrEstab},
    {"segments received", &MIB_TCPSTATS::dwInSegs},
    {"segment sent", &MIB_TCPSTATS::dwOutSegs},
    {"segments retransmitted", &MIB_TCPSTATS::dwRetransSegs},
    {"incoming errors", &MIB_TCPSTATS::dwInErrs},
    {"outgoing resets", &MIB_TCPSTATS::dwOutRsts},
    {"cumulative connections", &MIB_TCPSTATS::dwNumConns},
};

const char *rtoAlgorithmName(uint32_t code)
{
    switch (code) {
    case 1: return "Other";
    case 2: return "Constant Time-out";
    case 3: return "MIL-STD-1778 Appendix B";
    case 4: return "Van Jacobson's Algorithm";
    default: return "";
    }
}

std::string tcpStatValueText(int row, const MIB_TCPSTATS &stats)
{
    const uint32_t value = stats.*TcpStatRows[row].field;
    // The record's fields are shown as signed 32-bit numbers: 0xFFFFFFFF is -1.
    std::string text = std::to_string(static_cast<int32_t>(value));
    if (row == 0)
        text += std::string(" - ") + rtoAlgorithmName(value);
    return text;
}

const char *tcpStateText(uint32_t code)
{
    switch (code) {
    case MIB_TCP_STATE_CLOSED: return "closed";
    case MIB_TCP_STATE_LISTEN: return "listening";
    case MIB_TCP_STATE_SYN_SENT: return "sent";
    case MIB_TCP_STATE_SYN_RCVD: return "received";
    case MIB_TCP_STATE_ESTAB: return "established";
    case MIB_TCP_STATE_FIN_WAIT1: return "fin wait 1";
    case MIB_TCP_STATE_FIN_WAIT2: return "fin wait 2";
    case MIB_TCP_STATE_CLOSE_WAIT: return "close wait";
    case MIB_TCP_STATE_CLOSING: return "closing";
    case MIB_TCP_STATE_LAST_ACK: return "last ack";
    case MIB_TCP_STATE_TIME_WAIT: return "time wait";
    case MIB_TCP_STATE_DELETE_TCB: return "TCB deleted";
    default: return "";
    }
}

} // namespace iphlp

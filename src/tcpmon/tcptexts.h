#pragma once
#include "iphlpapi.h"

#include <cstdint>
#include <string>

// The display texts of the TCP windows, shared with velmaric-cli.
namespace iphlp {

struct TcpStatRow {
    const char *caption;
    uint32_t MIB_TCPSTATS::*field;
};
inline constexpr int TcpStatRowCount = 15;
extern const TcpStatRow TcpStatRows[TcpStatRowCount];

// "Van Jacobson's Algorithm" for 4; empty for codes outside 1..4.
const char *rtoAlgorithmName(uint32_t code);
// The value column of a statistics row: row 0 as "code - name", the others as signed decimals.
std::string tcpStatValueText(int row, const MIB_TCPSTATS &stats);
// "established" for 5; empty for codes outside 1..12.
const char *tcpStateText(uint32_t code);

} // namespace iphlp

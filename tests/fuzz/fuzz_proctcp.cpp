// /proc/net/tcp texts; the rows a text gives come out in the table's order.
#include "iphlpapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<iphlp::MIB_TCPROW> rows;
    if (iphlp::parseProcTcp({reinterpret_cast<const char *>(data), size}, rows))
        iphlp::sortTcpRows(rows);
    return 0;
}

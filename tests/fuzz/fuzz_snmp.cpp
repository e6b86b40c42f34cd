// /proc/net/snmp texts.
#include "iphlpapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    iphlp::MIB_TCPSTATS stats;
    iphlp::parseSnmpTcp({reinterpret_cast<const char *>(data), size}, stats);
    return 0;
}

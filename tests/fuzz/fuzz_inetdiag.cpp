// sock_diag dump datagrams, at an odd address as the kernel's buffer may lie.
#include "iphlpapi.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto copy = std::make_unique<uint8_t[]>(size + 1);
    std::memcpy(copy.get() + 1, data, size);
    std::vector<iphlp::MIB_TCPROW> rows;
    int error = 0;
    iphlp::parseInetDiagDump(copy.get() + 1, size, rows, &error);
    return 0;
}

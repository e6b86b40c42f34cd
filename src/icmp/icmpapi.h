#pragma once
#include <cstddef>
#include <cstdint>

class EchoSocket;

// The ICMP echo service with the calling conventions the windows rely on.
// Addresses are 32-bit values in network byte order.

using IcmpHandle = std::intptr_t; // 0 = not opened

struct IP_OPTION_INFORMATION {
    uint8_t Ttl = 0; // 0: the system's default
    uint8_t Tos = 0;
    uint8_t Flags = 0;
    uint8_t OptionsSize = 0;
    uint32_t OptionsData = 0;
};

// The record at the head of a reply buffer; the reply data follows it in the same buffer.
struct ICMP_ECHO_REPLY {
    uint32_t Address;
    int32_t Status;
    uint32_t RoundTripTime; // ms
    uint16_t DataSize;
    uint16_t Reserved;
    uint32_t DataPointer; // low 32 bits of the data's address, a number only
    IP_OPTION_INFORMATION Options;
};
static_assert(sizeof(ICMP_ECHO_REPLY) == 28, "the reply record is 28 bytes");

IcmpHandle IcmpCreateFile();
bool IcmpCloseHandle(IcmpHandle handle);

// Sends one echo request and waits up to timeoutMs for the answer that belongs to it.
// Returns the number of replies stored (1 or 0); the reply record's Status is written in
// both cases when replySize holds a record. A reply whose data does not fit gets
// IP_BUF_TOO_SMALL with as much data as fits.
uint32_t IcmpSendEcho(IcmpHandle handle, uint32_t destination, const void *requestData,
                      uint16_t requestSize, const IP_OPTION_INFORMATION *options, void *replyBuffer,
                      uint32_t replySize, uint32_t timeoutMs);

// The socket behind a handle, for callers that keep several requests under way; null for
// an unknown handle.
EchoSocket *echoSocketOf(IcmpHandle handle);

// Owns an echo handle for one scope.
class IcmpFile {
public:
    IcmpFile() : m_handle(IcmpCreateFile()) {}
    ~IcmpFile()
    {
        if (m_handle)
            IcmpCloseHandle(m_handle);
    }
    IcmpFile(const IcmpFile &) = delete;
    IcmpFile &operator=(const IcmpFile &) = delete;
    IcmpHandle handle() const { return m_handle; }
    explicit operator bool() const { return m_handle != 0; }

private:
    IcmpHandle m_handle;
};

#include "icmpapi.h"

#include "echosocket.h"
#include "icmppacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {
std::mutex g_lock;
std::map<IcmpHandle, std::unique_ptr<EchoSocket>> g_handles;
IcmpHandle g_lastHandle = 0;

void writeStatus(void *buffer, int32_t status)
{
    std::memcpy(static_cast<char *>(buffer) + offsetof(ICMP_ECHO_REPLY, Status), &status,
                sizeof status);
}
} // namespace

IcmpHandle IcmpCreateFile()
{
    auto socket = EchoSocket::open();
    if (!socket)
        return 0;
    std::lock_guard lock(g_lock);
    IcmpHandle h = ++g_lastHandle;
    g_handles.emplace(h, std::move(socket));
    return h;
}

bool IcmpCloseHandle(IcmpHandle handle)
{
    std::lock_guard lock(g_lock);
    return g_handles.erase(handle) == 1;
}

EchoSocket *echoSocketOf(IcmpHandle handle)
{
    std::lock_guard lock(g_lock);
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : it->second.get();
}

uint32_t IcmpSendEcho(IcmpHandle handle, uint32_t destination, const void *requestData,
                      uint16_t requestSize, const IP_OPTION_INFORMATION *options, void *replyBuffer,
                      uint32_t replySize, uint32_t timeoutMs)
{
    if (!replyBuffer || replySize < sizeof(ICMP_ECHO_REPLY))
        return 0;
    std::memset(replyBuffer, 0, sizeof(ICMP_ECHO_REPLY));
    EchoSocket *socket = echoSocketOf(handle);
    if (!socket) {
        writeStatus(replyBuffer, icmp::IP_GENERAL_FAILURE);
        return 0;
    }
    std::span<const uint8_t> data(static_cast<const uint8_t *>(requestData),
                                  requestData ? requestSize : 0);
    icmp::Probe probe{destination, socket->identifier(), socket->nextSequence(), data};

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    if (int32_t refused = socket->send(destination, data, options ? options->Ttl : 0,
                                       probe.sequence)) {
        writeStatus(replyBuffer, refused);
        return 0;
    }
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        auto received = socket->receive(int(left));
        if (!received || !icmp::answers(received->message, probe))
            continue;
        const icmp::Message &m = received->message;
        ICMP_ECHO_REPLY reply{};
        reply.Address = m.source;
        reply.Status = *icmp::statusFor(m.type, m.code);
        reply.RoundTripTime = uint32_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max(received->arrived - start, Clock::duration::zero()))
                .count());
        reply.Options.Ttl = m.ttl;
        uint8_t *dataArea = static_cast<uint8_t *>(replyBuffer) + sizeof reply;
        size_t room = replySize - sizeof reply;
        size_t stored = std::min(m.data.size(), room);
        std::copy_n(m.data.begin(), stored, dataArea);
        reply.DataSize = uint16_t(stored);
        reply.DataPointer = uint32_t(reinterpret_cast<std::uintptr_t>(dataArea));
        if (stored < m.data.size())
            reply.Status = icmp::IP_BUF_TOO_SMALL;
        std::memcpy(replyBuffer, &reply, sizeof reply);
        return reply.Status == icmp::IP_BUF_TOO_SMALL ? 0 : 1;
    }
    writeStatus(replyBuffer, icmp::IP_REQ_TIMED_OUT);
    return 0;
}

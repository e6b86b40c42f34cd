#include "traceroute.h"

#include "echosocket.h"
#include "hostlookup.h"
#include "icmppacket.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

std::string HopTimeText(uint32_t roundTripMs)
{
    if (roundTripMs < 10)
        return "<10 ms";
    if (roundTripMs <= 1200)
        return std::to_string(roundTripMs) + " ms";
    return "*";
}

std::string HopLine(int ttl, const std::string &timeText, const std::string &address,
                    const std::string &hostName)
{
    std::string line = "Hop #\t" + std::to_string(ttl) + "\t" + timeText + "\t" + address;
    if (!hostName.empty())
        line += "\t" + hostName;
    return line + "\r\n";
}

std::string TraceHeader(const std::string &target)
{
    return "Tracing Route to " + target + ":\r\n\r\n";
}

std::optional<double> readNumber(const std::string &text)
{
    size_t i = 0, n = text.size();
    auto skipBlanks = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    auto digits = [&] {
        size_t start = i;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - start;
    };
    skipBlanks();
    size_t begin = i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t mantissa = digits();
    if (i < n && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    size_t end = i;
    skipBlanks();
    if (i != n)
        return std::nullopt;
    return std::strtod(text.substr(begin, end - begin).c_str(), nullptr);
}

PacketSize correctPacketSize(const std::string &boxText)
{
    std::string text = boxText;
    if (auto value = readNumber(text)) {
        if (*value < 32)
            text = "32";
        if (*readNumber(text) > 128)
            text = "128";
    } else {
        text = "32";
    }
    // Halves go to the even neighbour (the default rounding mode).
    return {text, int32_t(std::nearbyint(*readNumber(text)))};
}

TraceRoute::TraceRoute(IcmpHandle handle, uint32_t destination, std::string addressText,
                       int packetSize, Settings settings)
    : m_handle(handle), m_destination(destination), m_addressText(std::move(addressText)),
      m_data(size_t(std::max(packetSize, 0)), 'a'), m_settings(settings),
      m_lastTtlToProbe(settings.maxTtl)
{
    m_finished = m_settings.maxTtl < 1 || !echoSocketOf(m_handle);
}

TraceRoute::Attempt &TraceRoute::head()
{
    auto &attempts = m_attempts[m_ttl];
    if (attempts.empty())
        attempts.resize(size_t(m_settings.maxAttempts));
    return attempts[size_t(m_attempt - 1)];
}

int TraceRoute::inFlight() const
{
    int n = 0;
    for (const auto &[ttl, attempts] : m_attempts)
        for (const Attempt &a : attempts)
            n += a.sent && !a.done;
    return n;
}

void TraceRoute::send(int ttl, int attempt)
{
    EchoSocket *socket = echoSocketOf(m_handle);
    auto &attempts = m_attempts[ttl];
    if (attempts.empty())
        attempts.resize(size_t(m_settings.maxAttempts));
    Attempt &a = attempts[size_t(attempt - 1)];
    a.sent = true;
    a.sentAt = Clock::now();
    a.sequence = socket->nextSequence();
    m_bySequence[a.sequence] = {ttl, attempt};
    // A request the system refuses gets no answer, at once.
    if (socket->send(m_destination, m_data, ttl, a.sequence) != 0)
        a.done = true;
}

void TraceRoute::launch()
{
    const auto now = Clock::now();
    // Later attempts of a TTL still waiting: at once when a farther hop has answered (the
    // silence is the hop's own), otherwise after retryAfterMs.
    for (auto &[ttl, attempts] : m_attempts) {
        if (ttl < m_ttl)
            continue;
        for (size_t k = 1; k < attempts.size(); ++k) {
            const Attempt &previous = attempts[k - 1];
            if (attempts[k].sent)
                continue;
            if (!previous.sent || previous.answered)
                break;
            if (inFlight() >= m_settings.maxInFlight)
                return;
            bool overdue = previous.done || now - previous.sentAt >=
                                                std::chrono::milliseconds(m_settings.retryAfterMs);
            if (!overdue && m_highestAnswered <= ttl)
                break;
            send(ttl, int(k + 1));
        }
    }
    // First attempts of the next TTLs.
    for (int ttl = m_ttl; ttl <= m_lastTtlToProbe && inFlight() < m_settings.maxInFlight; ++ttl)
        if (auto it = m_attempts.find(ttl); it == m_attempts.end() || !it->second[0].sent)
            send(ttl, 1);
}

void TraceRoute::receive(int waitMs)
{
    EchoSocket *socket = echoSocketOf(m_handle);
    if (auto received = socket->receive(waitMs))
        take(received->message, received->arrived);
}

void TraceRoute::receiveWaiting()
{
    EchoSocket *socket = echoSocketOf(m_handle);
    // Bounded, so that a flood of foreign messages cannot keep the trace from its own work.
    for (int i = 0; i < 256; ++i) {
        auto received = socket->receive(0);
        if (!received)
            return;
        take(received->message, received->arrived);
    }
}

void TraceRoute::take(const icmp::Message &message, Clock::time_point arrived)
{
    auto it = m_bySequence.find(message.sequence);
    if (it == m_bySequence.end())
        return;
    auto [ttl, attempt] = it->second;
    Attempt &a = m_attempts[ttl][size_t(attempt - 1)];
    icmp::Probe probe{m_destination, echoSocketOf(m_handle)->identifier(), a.sequence, m_data};
    if (a.done || !icmp::answers(message, probe))
        return;
    a.done = a.answered = true;
    a.address = message.source;
    a.roundTrip = std::max(arrived - a.sentAt, Clock::duration::zero());
    a.roundTripMs = uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(a.roundTrip).count());
    m_highestAnswered = std::max(m_highestAnswered, ttl);
    if (a.address == m_destination)
        m_lastTtlToProbe = std::min(m_lastTtlToProbe, ttl);
    // Every hop's look-up starts at its answer, so they all run at once.
    if (m_settings.resolveNames && !m_names.count(a.address))
        m_names.emplace(a.address, NameLookup::ofHop(a.address));
}

const NameLookup *TraceRoute::nameOf(const Attempt &a) const
{
    if (!m_settings.resolveNames || !a.answered)
        return nullptr;
    auto it = m_names.find(a.address);
    return it == m_names.end() ? nullptr : it->second.get();
}

TraceRoute::Clock::time_point TraceRoute::deadline(int ttl, const Attempt &a) const
{
    Clock::duration wait = std::chrono::milliseconds(m_settings.timeoutMs);
    if (m_settings.nearFactor > 0) {
        // The nearest farther hop that answered sets the pace.
        for (auto it = m_attempts.upper_bound(ttl); it != m_attempts.end(); ++it) {
            auto answer = std::find_if(it->second.begin(), it->second.end(),
                                       [](const Attempt &b) { return b.answered; });
            if (answer == it->second.end())
                continue;
            wait = std::min(
                wait, m_settings.nearFactor *
                          (answer->roundTrip + std::chrono::microseconds(m_settings.nearSlackUs)));
            break;
        }
    }
    return a.sentAt + wait;
}

void TraceRoute::expire()
{
    const auto now = Clock::now();
    for (auto &[ttl, attempts] : m_attempts)
        for (Attempt &a : attempts)
            if (a.sent && !a.done && now >= deadline(ttl, a))
                a.done = true;
}

std::string TraceRoute::hopLineFor(int ttl, const Attempt &a) const
{
    const NameLookup *name = nameOf(a);
    return HopLine(ttl, HopTimeText(a.roundTripMs), m_hopAddress,
                   name ? name->result() : std::string());
}

std::optional<TraceRoute::Step> TraceRoute::next(int waitMs)
{
    if (m_finished)
        return std::nullopt;
    const auto until = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    for (;;) {
        // The attempt waited for goes out whatever else is under way.
        if (!head().sent)
            send(m_ttl, m_attempt);
        // Replies that came in while the caller was busy count before any attempt is
        // retried or runs out.
        receiveWaiting();
        launch();
        expire();
        const auto now = Clock::now();
        if (head().done) {
            const NameLookup *name = nameOf(head());
            if (!name)
                break;
            const auto nameDeadline = name->started() +
                                      std::chrono::milliseconds(m_settings.nameWaitMs);
            if (name->waitUntil(now) || now >= nameDeadline)
                break;
            if (now >= until)
                return std::nullopt;
            // Waits for the name, waking often enough to read replies and send retries.
            name->waitUntil(
                std::min({until, nameDeadline,
                          now + std::chrono::milliseconds(m_settings.retryAfterMs / 4 + 1)}));
            continue;
        }
        if (now >= until)
            return std::nullopt;
        // Wake up for the attempt's own time-out, and often enough to send retries in time.
        auto wake = std::min(until, deadline(m_ttl, head()));
        auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        receive(int(std::clamp<long long>(left, 0, m_settings.retryAfterMs / 4 + 1)));
    }

    Step step;
    step.ttl = m_ttl;
    const Attempt a = head();
    if (a.answered) {
        step.answered = true;
        m_hopAddress = AddressToIPText(a.address);
        step.hopLine = hopLineFor(m_ttl, a);
    } else if (m_attempt == m_settings.maxAttempts) {
        step.hopLine = HopLine(m_ttl, "*", {});
    }
    if (m_addressText == m_hopAddress) {
        m_complete = m_finished = true;
        return step;
    }
    if (a.answered || m_attempt == m_settings.maxAttempts) {
        // Probes of this TTL still under way are of no further use. Unsent attempts carry no
        // sequence of their own: their default 0 may be a live probe's after the wrap.
        for (const Attempt &other : m_attempts[m_ttl])
            if (other.sent)
                m_bySequence.erase(other.sequence);
        m_attempts.erase(m_ttl);
        ++m_ttl;
        m_attempt = 1;
        m_finished = m_ttl > m_settings.maxTtl;
    } else {
        ++m_attempt;
    }
    return step;
}

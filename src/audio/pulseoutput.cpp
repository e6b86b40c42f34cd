#include "pulseoutput.h"

#include <QCoreApplication>

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace {
// What the stream holds ahead of the sink: room to answer for the next entry in time (it is
// opened aside, and a tagged file opens in milliseconds), a quick start (playback begins once
// this much is written, which the decoder does at once), and little memory held for it.
constexpr pa_usec_t BufferUs = 300'000;
// A server that neither accepts nor refuses the connection in this time counts as absent.
constexpr pa_usec_t ConnectTimeoutUs = 5'000'000;

QString tr(const char *text) { return QCoreApplication::translate("PulseOutput", text); }

QString noServer()
{
    return tr("No sound output: the sound server is not running or has no output device");
}

bool settled(pa_context_state_t state)
{
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}
} // namespace

class PulseOutput::Lock {
public:
    explicit Lock(pa_threaded_mainloop *loop) : m_loop(loop) { pa_threaded_mainloop_lock(loop); }
    ~Lock() { pa_threaded_mainloop_unlock(m_loop); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};

PulseOutput::PulseOutput(Callbacks callbacks) : m_callbacks(std::move(callbacks))
{
    m_loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(m_loop, "sound output");
    pa_threaded_mainloop_start(m_loop);
}

PulseOutput::~PulseOutput()
{
    {
        Lock lock(m_loop);
        dropStream();
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

QString PulseOutput::probe()
{
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Velmaric");
    const pa_usec_t deadline = pa_rtclock_now() + ConnectTimeoutUs;
    bool ready = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (!settled(pa_context_get_state(context)) && pa_rtclock_now() < deadline) {
            pa_mainloop_prepare(loop,
                                int(std::min<pa_usec_t>(deadline - pa_rtclock_now(), 100'000)));
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
        ready = pa_context_get_state(context) == PA_CONTEXT_READY;
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return ready ? QString() : noServer();
}

void PulseOutput::onContextState(pa_context *c, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    pa_threaded_mainloop_signal(out->m_loop, 0);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)) && out->m_stream)
        out->m_callbacks.failed(out->m_run,
                                tr("The sound server went away: %1")
                                    .arg(QString::fromUtf8(pa_strerror(pa_context_errno(c)))));
}

QString PulseOutput::connectLocked()
{
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        return {};
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Velmaric");
    if (!m_context)
        return noServer();
    pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return noServer();
    // The wait ends on a state change or at the deadline, whichever comes first.
    pa_time_event *timeout = pa_context_rttime_new(
        m_context, pa_rtclock_now() + ConnectTimeoutUs,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
        },
        m_loop);
    const pa_usec_t deadline = pa_rtclock_now() + ConnectTimeoutUs;
    while (!settled(pa_context_get_state(m_context)) && pa_rtclock_now() < deadline)
        pa_threaded_mainloop_wait(m_loop);
    if (timeout)
        pa_threaded_mainloop_get_api(m_loop)->time_free(timeout);
    return pa_context_get_state(m_context) == PA_CONTEXT_READY ? QString() : noServer();
}

QString PulseOutput::connect()
{
    Lock lock(m_loop);
    return connectLocked();
}

void PulseOutput::dropStream()
{
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_segments.clear();
    m_writing = 0;
    m_written = 0;
    m_askedNext = false;
}

quint64 PulseOutput::start(std::shared_ptr<Mp3Decoder> decoder, quint64 entry,
                           std::int64_t fromSample, bool paused, float volume, QString *error)
{
    Lock lock(m_loop);
    dropStream();
    if (QString why = connectLocked(); !why.isEmpty()) {
        *error = why;
        return 0;
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, uint32_t(decoder->rate()),
                                uint8_t(decoder->channels())};
    pa_stream *stream = pa_stream_new(m_context, "Playback", &format, nullptr);
    if (!stream) {
        *error = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        return 0;
    }
    pa_buffer_attr attr;
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(BufferUs, &format));
    pa_cvolume level;
    pa_cvolume_set(&level, format.channels, pa_sw_volume_from_linear(volume));
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE |
                                         (paused ? PA_STREAM_START_CORKED : 0));
    pa_stream_set_state_callback(stream, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(stream, &PulseOutput::onWrite, this);
    if (pa_stream_connect_playback(stream, nullptr, &attr, flags, &level, nullptr) < 0) {
        *error = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        pa_stream_unref(stream);
        return 0;
    }
    m_stream = stream;
    m_volume = m_connectVolume = volume;
    ++m_run;
    m_rate = format.rate;
    m_channels = format.channels;
    m_segments.push_back({std::move(decoder), entry, -1, fromSample});
    return m_run;
}

bool PulseOutput::append(quint64 run, std::shared_ptr<Mp3Decoder> decoder, quint64 entry)
{
    Lock lock(m_loop);
    if (run != m_run || !m_stream || decoder->rate() != m_rate || decoder->channels() != m_channels)
        return false;
    m_segments.push_back({std::move(decoder), entry, -1, 0});
    m_askedNext = false;
    if (const std::size_t room = pa_stream_writable_size(m_stream); room != std::size_t(-1))
        fill(room);
    return true;
}

void PulseOutput::finish(quint64 run)
{
    Lock lock(m_loop);
    if (run != m_run || !m_stream)
        return;
    const auto drained = [](pa_stream *s, int success, void *self) {
        auto *out = static_cast<PulseOutput *>(self);
        if (success && s == out->m_stream)
            out->m_callbacks.drained(out->m_run);
    };
    if (pa_operation *op = pa_stream_drain(m_stream, drained, this))
        pa_operation_unref(op);
}

void PulseOutput::stop()
{
    Lock lock(m_loop);
    dropStream();
}

void PulseOutput::setPaused(bool paused)
{
    Lock lock(m_loop);
    if (!m_stream)
        return;
    if (pa_operation *op = pa_stream_cork(m_stream, paused, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseOutput::setVolume(float volume)
{
    Lock lock(m_loop);
    m_volume = volume;
    applyVolume();
}

void PulseOutput::applyVolume()
{
    // Until the stream is ready the server doesn't know it: the volume follows at readiness.
    if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    pa_cvolume level;
    pa_cvolume_set(&level, uint8_t(m_channels), pa_sw_volume_from_linear(m_volume));
    if (pa_operation *op = pa_context_set_sink_input_volume(
            m_context, pa_stream_get_index(m_stream), &level, nullptr, nullptr))
        pa_operation_unref(op);
}

PulseOutput::Heard PulseOutput::heard() const
{
    Lock lock(m_loop);
    if (!m_stream || m_segments.empty())
        return {};
    pa_usec_t played = 0;
    if (pa_stream_get_time(m_stream, &played) < 0)
        played = 0;
    const auto frame = std::int64_t(played * std::uint64_t(m_rate) / 1'000'000);
    const Segment *at = &m_segments.front();
    for (const Segment &s : m_segments)
        if (s.streamStart >= 0 && s.streamStart <= frame)
            at = &s;
    std::int64_t into = std::max<std::int64_t>(0,
                                               frame - std::max<std::int64_t>(0, at->streamStart));
    if (at->streamEnd >= 0)
        into = std::min(into, at->streamEnd - at->streamStart);
    return {at->entry, at->fileStart + into};
}

void PulseOutput::onStreamState(pa_stream *s, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    if (s == out->m_stream && pa_stream_get_state(s) == PA_STREAM_READY &&
        out->m_volume != out->m_connectVolume)
        out->applyVolume();
    if (s == out->m_stream && pa_stream_get_state(s) == PA_STREAM_FAILED)
        out->m_callbacks.failed(
            out->m_run, QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
}

void PulseOutput::onWrite(pa_stream *s, std::size_t bytes, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    if (s == out->m_stream)
        out->fill(bytes);
}

void PulseOutput::fill(std::size_t bytes)
{
    const std::size_t frameBytes = std::size_t(m_channels) * 2;
    while (bytes >= frameBytes && m_writing < m_segments.size()) {
        Segment &segment = m_segments[m_writing];
        if (segment.streamStart < 0)
            segment.streamStart = m_written;
        void *data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &data, &size) < 0 || !data)
            return;
        bool done = false;
        const std::size_t got = segment.decoder->read(static_cast<unsigned char *>(data),
                                                      std::min(size, bytes), &done);
        if (got > 0)
            pa_stream_write(m_stream, data, got, nullptr, 0, PA_SEEK_RELATIVE);
        else
            pa_stream_cancel_write(m_stream);
        m_written += std::int64_t(got / frameBytes);
        bytes -= got;
        if (done) {
            segment.streamEnd = m_written;
            segment.decoder.reset(); // its owner keeps it while it is wanted for seeking
            ++m_writing;
        } else if (got == 0) {
            return;
        }
    }
    if (m_writing == m_segments.size() && !m_askedNext) {
        m_askedNext = true;
        m_callbacks.needNext(m_run);
    }
}

#pragma once

#include "mp3decoder.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

// Sound out through the sound server (PulseAudio, or PipeWire's PulseAudio service): one
// stream per run of playback, fed on the server connection's own thread straight from the
// decoders. A run plays its first entry from a given sample and then every entry appended to
// it, each entry's first sample written right after the previous entry's last one. What is
// heard comes from the stream's clock: the samples the sink has played, its latency taken off.
//
// Every function is called from one (the owner's) thread. The callbacks run on the server
// connection's thread and must only hand the news on; each names the run it belongs to, so
// news of a run already replaced can be told apart.
class PulseOutput {
public:
    struct Callbacks {
        std::function<void(quint64 run)> needNext; // the last entry is decoded to its end
        std::function<void(quint64 run)> drained;  // finish()ed and played to its last sample
        std::function<void(quint64 run, const QString &why)> failed;
    };

    explicit PulseOutput(Callbacks callbacks);
    ~PulseOutput();
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    // Why there is no sound server to play to; empty when one answers.
    static QString probe();
    // Connects to the sound server unless connected; empty, or why not.
    QString connect();

    // Ends the current run and starts a new one: `entry`, its decoder standing at `fromSample`,
    // paused or playing.
    // Returns the run's number, or 0 with `error` set.
    quint64 start(std::shared_ptr<Mp3Decoder> decoder, quint64 entry, std::int64_t fromSample,
                  bool paused, float volume, QString *error);
    // Queues an entry after the run's last one; false when the run is over or the entry's
    // sample format differs from the stream's.
    bool append(quint64 run, std::shared_ptr<Mp3Decoder> decoder, quint64 entry);
    // Nothing follows the run's last entry: play out what is written, then report drained.
    void finish(quint64 run);
    void stop();
    void setPaused(bool paused);
    void setVolume(float volume);

    struct Heard {
        quint64 entry = 0; // 0: nothing playing
        std::int64_t sample = 0;
    };
    Heard heard() const;

private:
    struct Segment {
        std::shared_ptr<Mp3Decoder> decoder;
        quint64 entry;
        std::int64_t streamStart; // frame of the stream where the entry's first sample lies
        std::int64_t fileStart;   // that sample's place in the file
        std::int64_t streamEnd = -1;
    };
    class Lock;

    QString connectLocked();
    void dropStream();
    void fill(std::size_t bytes);
    void applyVolume();
    static void onContextState(pa_context *c, void *self);
    static void onStreamState(pa_stream *s, void *self);
    static void onWrite(pa_stream *s, std::size_t bytes, void *self);

    Callbacks m_callbacks;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    quint64 m_run = 0;
    long m_rate = 0;
    int m_channels = 0;
    std::vector<Segment> m_segments;
    std::size_t m_writing = 0;  // the segment being written
    std::int64_t m_written = 0; // frames written to the stream
    bool m_askedNext = false;
    float m_volume = 1.0f;
    float m_connectVolume = 1.0f; // the volume the stream was created with
};

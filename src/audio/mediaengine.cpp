#include "mediaengine.h"

#include "mp3decoder.h"
#include "pulseoutput.h"

#include <QFileInfo>
#include <QMetaMethod>

#include <algorithm>

MediaEngine::MediaEngine(QObject *parent) : QObject(parent)
{
    // The output's news arrives on the sound server's thread: hand it to this one.
    const auto here = [this](auto f) { QMetaObject::invokeMethod(this, f, Qt::QueuedConnection); };
    m_output = std::make_unique<PulseOutput>(
        PulseOutput::Callbacks{[this, here](quint64 run) { here([this, run] { queueNext(run); }); },
                               [this, here](quint64 run) {
                                   here([this, run] {
                                       if (run != m_run)
                                           return;
                                       endRun();
                                       finish(0);
                                   });
                               },
                               [this, here](quint64 run, const QString &why) {
                                   here([this, run, why] {
                                       if (run != m_run)
                                           return;
                                       endRun();
                                       fail(why);
                                   });
                               }});
    m_clock.setSingleShot(true);
    m_clock.setTimerType(Qt::PreciseTimer);
    connect(&m_clock, &QTimer::timeout, this, &MediaEngine::tick);
}

MediaEngine::~MediaEngine()
{
    // Its thread stops first, so no news is posted to an engine being destroyed.
    m_output.reset();
}

QString MediaEngine::outputProblem() { return PulseOutput::probe(); }

QString MediaEngine::openOutput() { return m_output->connect(); }

qint64 MediaEngine::toUs(std::int64_t sample) const
{
    return m_current.decoder ? sample * 1'000'000 / m_current.decoder->rate() : 0;
}

void MediaEngine::setFileName(const QString &path)
{
    m_fileName = path;
    ++m_serial;
    m_errorText.clear();
    m_ended = false;
    m_endPositionUs = 0;
    if (m_nextHeard && !m_queued.empty() && m_queued.front().path == path) {
        // The next entry already plays, right after the last sample of the one before.
        m_nextHeard = false;
        m_current = std::move(m_queued.front());
        m_queued.pop_front();
        Q_EMIT fileNameChanged(path);
        Q_EMIT durationChanged(duration());
        setState(State::Playing);
        tick();
        return;
    }
    endRun();
    m_current = {path, nullptr, 0};
    m_startSample = 0;
    Q_EMIT fileNameChanged(path);
    Q_EMIT positionChanged(0);
    Q_EMIT durationChanged(0);

    const QFileInfo info(path);
    if (!info.isFile())
        return fail(tr("File not found: %1").arg(path));
    if (!info.isReadable())
        return fail(tr("File not readable: %1").arg(path));
    setState(State::Playing);
    open(path);
}

void MediaEngine::open(const QString &path)
{
    struct Opened {
        std::shared_ptr<Mp3Decoder> decoder;
        QString why;
    };
    auto opened = std::make_shared<Opened>();
    const quint64 work = m_pending = ++m_works;
    m_work.post([path, opened] { opened->decoder = Mp3Decoder::open(path, &opened->why); },
                [this, opened, work] {
                    if (work != m_pending)
                        return;
                    m_pending = 0;
                    if (!opened->decoder)
                        return fail(opened->why);
                    m_current.decoder = std::move(opened->decoder);
                    m_current.id = ++m_entries;
                    Q_EMIT durationChanged(duration());
                    begin(0);
                });
}

void MediaEngine::startRun(std::int64_t sample, bool paused)
{
    endRun();
    m_startSample = sample;
    setState(paused ? State::Paused : State::Playing);
    Q_EMIT positionChanged(toUs(sample) / 1000);
    // Seeking may read the file up to there: it happens with the rest of the file work, in
    // order, while no stream reads this decoder.
    auto found = std::make_shared<bool>(false);
    const quint64 work = m_pending = ++m_works;
    m_work.post([decoder = m_current.decoder, sample, found] { *found = decoder->seek(sample); },
                [this, sample, found, work] {
                    if (work != m_pending)
                        return;
                    m_pending = 0;
                    if (!*found)
                        return fail(tr("The file could not be played from there"));
                    begin(sample);
                });
}

// The decoder stands at `sample`: play from there as now asked (playing, paused or stopped).
void MediaEngine::begin(std::int64_t sample)
{
    m_startSample = sample;
    if (m_state == State::Stopped)
        return;
    QString why;
    m_run = m_output->start(m_current.decoder, m_current.id, sample, m_state == State::Paused,
                            m_volume, &why);
    if (!m_run)
        return fail(why);
    schedule(sample);
}

void MediaEngine::endRun()
{
    if (m_run)
        m_output->stop();
    m_run = 0;
    m_queued.clear();
    m_nextHeard = false;
}

void MediaEngine::queueNext(quint64 run)
{
    if (run != m_run)
        return;
    const QString path = m_upcoming ? m_upcoming(int(m_queued.size())) : QString();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return m_output->finish(run);
    auto decoder = std::make_shared<std::shared_ptr<Mp3Decoder>>();
    m_work.post(
        [path, decoder] {
            QString why;
            *decoder = Mp3Decoder::open(path, &why);
        },
        [this, run, path, decoder] {
            if (run != m_run)
                return;
            // A file that can't follow seamlessly (it fails, or has another sample format) is
            // left to its assignment, which starts it on its own once this run has played out.
            if (*decoder && m_output->append(run, *decoder, m_entries + 1)) {
                m_queued.push_back({path, std::move(*decoder), ++m_entries});
                tick();
                return;
            }
            m_output->finish(run);
        });
}

void MediaEngine::tick()
{
    if (!m_run || m_state != State::Playing)
        return;
    const PulseOutput::Heard heard = m_output->heard();
    if (heard.entry == m_current.id) {
        Q_EMIT positionChanged(toUs(heard.sample) / 1000);
        schedule(heard.sample);
    } else if (heard.entry != 0 && !m_nextHeard) {
        m_nextHeard = true;
        finish(0);
    }
}

void MediaEngine::schedule(std::int64_t heardSample)
{
    if (!m_run || m_state != State::Playing)
        return m_clock.stop();
    if (isSignalConnected(QMetaMethod::fromSignal(&MediaEngine::positionChanged)))
        return m_clock.start(PositionIntervalMs);
    // Nobody shows the position: wake only where the next entry should take over.
    if (m_queued.empty() || m_nextHeard)
        return m_clock.stop();
    const std::int64_t left = m_current.decoder->length() - heardSample;
    m_clock.start(
        int(std::clamp<std::int64_t>(left * 1000 / m_current.decoder->rate() + 5, 5, 60000)));
}

void MediaEngine::play()
{
    if (m_fileName.isEmpty())
        return;
    // A finished or failed file starts afresh.
    if (m_ended || (!m_current.decoder && !m_pending)) {
        setFileName(m_fileName);
        return;
    }
    if (m_state == State::Playing)
        return;
    if (m_run || m_pending) {
        // A stream, or one about to start, takes the new state.
        if (m_run)
            m_output->setPaused(false);
        setState(State::Playing);
        tick();
    } else {
        startRun(m_startSample, false);
    }
}

void MediaEngine::pause()
{
    if (m_state != State::Playing)
        return;
    m_output->setPaused(true);
    setState(State::Paused);
    Q_EMIT positionChanged(position());
}

void MediaEngine::stop()
{
    endRun();
    // A seek under way is forgotten; an opening goes on, to stand ready at the first sample.
    if (m_current.decoder)
        m_pending = 0;
    m_startSample = 0;
    setState(State::Stopped);
    if (!m_ended)
        Q_EMIT positionChanged(0);
}

qint64 MediaEngine::positionUs() const
{
    if (m_ended)
        return m_endPositionUs;
    if (!m_run)
        return toUs(m_startSample);
    const PulseOutput::Heard heard = m_output->heard();
    if (heard.entry == m_current.id)
        return toUs(heard.sample);
    // A queued entry is heard already: this one has played to its end.
    return heard.entry ? durationUs() : toUs(m_startSample);
}

void MediaEngine::setPositionUs(qint64 us)
{
    us = qMax<qint64>(0, us);
    if (!m_current.decoder && !m_ended)
        return; // still opening: its length is unknown
    if (m_ended || !m_current.decoder) {
        // An ended file is not sought: the next play() starts it afresh.
        m_endPositionUs = us;
        Q_EMIT positionChanged(us / 1000);
        return;
    }
    const std::int64_t sample = std::clamp<std::int64_t>(
        (us * m_current.decoder->rate() + 500'000) / 1'000'000, 0, m_current.decoder->length());
    if (m_state == State::Stopped) {
        m_startSample = sample;
        Q_EMIT positionChanged(toUs(sample) / 1000);
        return;
    }
    startRun(sample, m_state == State::Paused);
}

qint64 MediaEngine::durationUs() const
{
    return m_current.decoder ? toUs(m_current.decoder->length()) : 0;
}

QString MediaEngine::title() const
{
    return m_current.decoder ? m_current.decoder->tags().title : QString();
}

QStringList MediaEngine::artists() const
{
    return m_current.decoder ? m_current.decoder->tags().artists : QStringList();
}

QString MediaEngine::album() const
{
    return m_current.decoder ? m_current.decoder->tags().album : QString();
}

void MediaEngine::setVolume(float volume)
{
    volume = qBound(0.0f, volume, 1.0f);
    if (qFuzzyCompare(volume, m_volume))
        return;
    m_volume = volume;
    m_output->setVolume(volume);
    Q_EMIT volumeChanged(volume);
}

void MediaEngine::setState(State state)
{
    if (state != State::Playing)
        m_clock.stop();
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT playbackStateChanged(state);
}

void MediaEngine::fail(const QString &text)
{
    if (m_ended)
        return;
    endRun();
    m_pending = 0;
    m_errorText = text;
    Q_EMIT errorOccurred(text);
    finish(1);
}

void MediaEngine::finish(int result)
{
    if (m_ended)
        return;
    m_endPositionUs = result == 0 ? durationUs() : positionUs();
    m_ended = true;
    setState(State::Stopped);
    // Queued: listeners assign the next file from their handler, and a file that fails at once
    // must not recurse into the next one.
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_serial, result] {
            if (serial != m_serial)
                return;
            Q_EMIT endOfStream(result);
            // Nobody took the entry that already follows: it stops here.
            if (serial == m_serial && m_nextHeard)
                endRun();
        },
        Qt::QueuedConnection);
}

#include "mediaengine.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

MediaEngine::MediaEngine(QObject *parent) : QObject(parent)
{
    // Qt 6.4's GStreamer backend crashes on MP3; the backend is chosen at the first player,
    // so whoever creates an engine gets FFmpeg unless the user asked for another.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, &MediaEngine::watch);
}

void MediaEngine::watch()
{
    if (m_ended || !m_player || !m_wantPlaying) {
        m_watchdog.stop();
        return;
    }
    const qint64 now = m_player->position();
    if (now != m_watchPosition) {
        m_watchPosition = now;
        m_stillTicks = 0;
    } else if (++m_stillTicks >= StallSeconds) {
        fail(tr("The file could not be played: playback stalled"));
    }
}

void MediaEngine::startWatching()
{
    m_wantPlaying = true;
    m_watchPosition = -1;
    m_stillTicks = 0;
    m_watchdog.start();
}

MediaEngine::~MediaEngine() = default;

QString MediaEngine::outputProblem()
{
    if (QMediaDevices::audioOutputs().isEmpty())
        return tr("No sound output: the sound server is not running or has no output device");
    return {};
}

void MediaEngine::rebuildPlayer()
{
    if (m_player) {
        // The old pair may still be inside one of its own signals: let it go later, silently.
        m_player->disconnect(this);
        m_player->stop();
        m_player->deleteLater();
        m_output->deleteLater();
    }
    m_player = new QMediaPlayer(this);
    m_output = new QAudioOutput(this);
    m_output->setVolume(m_volume);
    m_player->setAudioOutput(m_output);

    connect(m_player, &QMediaPlayer::positionChanged, this, &MediaEngine::positionChanged);
    connect(m_player, &QMediaPlayer::durationChanged, this, &MediaEngine::durationChanged);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState s) {
                if (s == QMediaPlayer::PlayingState)
                    setState(State::Playing);
                else if (s == QMediaPlayer::PausedState)
                    setState(State::Paused);
                else
                    setState(State::Stopped);
            });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
        if (s == QMediaPlayer::EndOfMedia)
            finish(0);
        else if (s == QMediaPlayer::InvalidMedia)
            fail(m_player->errorString().isEmpty() ? tr("Not a playable media file")
                                                   : m_player->errorString());
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString &text) {
                fail(text.isEmpty() ? tr("Playback failed") : text);
            });
}

void MediaEngine::setFileName(const QString &path)
{
    m_fileName = path;
    ++m_serial;
    m_errorText.clear();
    m_ended = false;
    m_endPosition = 0;
    rebuildPlayer();
    Q_EMIT fileNameChanged(path);
    Q_EMIT positionChanged(0);
    Q_EMIT durationChanged(0);

    if (const QString problem = outputProblem(); !problem.isEmpty())
        return fail(problem);
    const QFileInfo info(path);
    if (!info.isFile())
        return fail(tr("File not found: %1").arg(path));
    if (!info.isReadable())
        return fail(tr("File not readable: %1").arg(path));
    m_player->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    m_player->play();
    startWatching();
}

void MediaEngine::play()
{
    if (m_fileName.isEmpty() || !m_player)
        return;
    // A finished or failed player is not reliable to restart: start the file afresh.
    if (m_ended || m_player->mediaStatus() == QMediaPlayer::EndOfMedia) {
        setFileName(m_fileName);
        return;
    }
    m_player->play();
    startWatching();
}

void MediaEngine::pause()
{
    if (m_player && m_state == State::Playing) {
        m_wantPlaying = false;
        m_player->pause();
    }
}

void MediaEngine::stop()
{
    m_wantPlaying = false;
    if (m_player)
        m_player->stop();
}

qint64 MediaEngine::position() const
{
    if (m_ended || !m_player)
        return m_endPosition;
    return m_player->position();
}

void MediaEngine::setPosition(qint64 ms)
{
    ms = qMax<qint64>(0, ms);
    if (m_player && !m_ended) {
        m_player->setPosition(ms);
        return;
    }
    // An ended player is not sought: the next play() starts the file afresh.
    m_endPosition = ms;
    Q_EMIT positionChanged(ms);
}

qint64 MediaEngine::duration() const { return m_player ? m_player->duration() : 0; }

void MediaEngine::setVolume(float volume)
{
    volume = qBound(0.0f, volume, 1.0f);
    if (qFuzzyCompare(volume, m_volume))
        return;
    m_volume = volume;
    if (m_output)
        m_output->setVolume(volume);
    Q_EMIT volumeChanged(volume);
}

void MediaEngine::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT playbackStateChanged(state);
}

void MediaEngine::fail(const QString &text)
{
    if (m_ended)
        return;
    m_errorText = text;
    if (m_player)
        m_player->stop();
    setState(State::Stopped);
    Q_EMIT errorOccurred(text);
    finish(1);
}

void MediaEngine::finish(int result)
{
    if (m_ended)
        return;
    m_endPosition = m_player ? m_player->position() : 0;
    m_ended = true;
    setState(State::Stopped);
    // Queued: listeners assign the next file, which replaces the player that is signalling now.
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_serial, result] {
            if (serial == m_serial)
                Q_EMIT endOfStream(result);
        },
        Qt::QueuedConnection);
}

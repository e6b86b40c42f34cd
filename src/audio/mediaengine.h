#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QAudioOutput;
class QMediaPlayer;

// The media control's engine: plays one file at a time through Qt Multimedia. It needs no
// window, so the command line and the desktop media keys can drive it as well as frmAudio.
// A file that can't be played (missing, corrupt, no sound output) ends like a played one:
// errorText() says why and endOfStream follows, so a playlist moves on instead of stalling.
class MediaEngine : public QObject {
    Q_OBJECT

public:
    enum class State { Stopped, Playing, Paused };
    Q_ENUM(State)

    explicit MediaEngine(QObject *parent = nullptr);
    ~MediaEngine() override;

    QString fileName() const { return m_fileName; }
    // Assigning a path opens it and starts playing at once (even the same path again).
    void setFileName(const QString &path);

    void play();
    void pause();
    void stop();
    State playbackState() const { return m_state; }

    qint64 position() const; // ms
    void setPosition(qint64 ms);
    // The window's CurrentPosition property, in seconds; 0 rewinds.
    double CurrentPosition() const { return position() / 1000.0; }
    void setCurrentPosition(double seconds) { setPosition(qint64(seconds * 1000.0)); }
    qint64 duration() const; // ms, 0 while unknown

    float volume() const { return m_volume; }
    void setVolume(float volume); // 0..1

    // Why the last file could not be played; empty while playback is fine.
    QString errorText() const { return m_errorText; }

    // Text for a missing sound server or output device, empty when one is available.
    static QString outputProblem();

Q_SIGNALS:
    void fileNameChanged(const QString &fileName);
    void playbackStateChanged(MediaEngine::State state);
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void volumeChanged(float volume);
    // The file reached its end or could not be played (errorText() is set before this); the
    // result code is 0 for a normal end and 1 for a failure.
    void endOfStream(int result);
    void errorOccurred(const QString &text);

private:
    void rebuildPlayer();
    void setState(State state);
    void fail(const QString &text);
    void finish(int result);

    // Both belong to this engine and are replaced together for every file: a Qt 6.4 player
    // that has reached its end may not start again.
    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_output = nullptr;
    QString m_fileName;
    QString m_errorText;
    State m_state = State::Stopped;
    float m_volume = 1.0f;
    bool m_ended = false;     // the current file has ended or failed
    qint64 m_endPosition = 0; // the position of an ended file, which the window may rewind
    quint64 m_serial = 0;     // counts assignments, so a late end never applies to a newer file
    // Some damaged files leave the backend neither playing nor failing: a file meant to play
    // whose position stands still this long counts as failed, so a playlist moves on.
    static constexpr int StallSeconds = 8;
    QTimer m_watchdog;
    bool m_wantPlaying = false;
    qint64 m_watchPosition = -1;
    int m_stillTicks = 0;
    void watch();
    void startWatching();
};

#pragma once

#include "filework.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class Mp3Decoder;
class PulseOutput;

// The media control's engine: MP3 files decoded by libmpg123 and played through the sound
// server. It needs no window, so the command line and the desktop media keys drive it as well
// as frmAudio. One output stream carries entry after entry: told what comes next
// (setUpcoming), the engine writes the next file's first sample right after the last one of
// the file playing, and when that boundary is heard it ends the file as usual; assigning the
// next file then takes over what is already playing instead of starting it again.
// A file that can't be played (missing, not an MP3, no sound server) ends like a played one:
// errorText() says why and endOfStream follows, so a playlist moves on instead of stalling.
// Files are opened, scanned and sought on a thread of their own: an assignment returns at once,
// playing (or paused, or stopped, as asked meanwhile) once the file is ready, and its length
// follows with durationChanged.
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
    // The file that will be assigned after the current one, and `ahead` more files after that
    // one; empty for none. Asked shortly before a file ends.
    void setUpcoming(std::function<QString(int ahead)> upcoming)
    {
        m_upcoming = std::move(upcoming);
    }

    void play();
    void pause();
    void stop();
    State playbackState() const { return m_state; }

    qint64 position() const { return positionUs() / 1000; } // ms
    qint64 positionUs() const;
    void setPosition(qint64 ms) { setPositionUs(ms * 1000); }
    // To the sample nearest the time given.
    void setPositionUs(qint64 us);
    // The window's CurrentPosition property, in seconds; 0 rewinds.
    double CurrentPosition() const { return positionUs() / 1e6; }
    void setCurrentPosition(double seconds) { setPositionUs(qint64(seconds * 1e6)); }
    qint64 duration() const { return durationUs() / 1000; } // ms, 0 while unknown
    qint64 durationUs() const;

    // The tags of the file loaded; empty where it has none.
    QString title() const;
    QStringList artists() const;
    QString album() const;

    float volume() const { return m_volume; }
    void setVolume(float volume); // 0..1

    // Why the last file could not be played; empty while playback is fine.
    QString errorText() const { return m_errorText; }

    // Text for a missing sound server, empty when one answers.
    static QString outputProblem();
    // Connects this engine to the sound server now rather than at the first file.
    QString openOutput();

    // How often the position is told while playing.
    static constexpr int PositionIntervalMs = 40;

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
    struct Entry {
        QString path;
        std::shared_ptr<Mp3Decoder> decoder;
        quint64 id = 0;
    };

    qint64 toUs(std::int64_t sample) const;
    void open(const QString &path);
    void startRun(std::int64_t sample, bool paused);
    void begin(std::int64_t sample);
    void endRun();
    void setState(State state);
    void fail(const QString &text);
    void finish(int result);
    void tick();
    void schedule(std::int64_t heardSample);
    void queueNext(quint64 run);

    std::unique_ptr<PulseOutput> m_output;
    FileWork m_work{this};
    quint64 m_works = 0;   // numbers the current entry's file work
    quint64 m_pending = 0; // the current entry's opening or seeking under way; 0: none
    std::function<QString(int)> m_upcoming;
    QString m_fileName;
    QString m_errorText;
    Entry m_current;
    std::deque<Entry> m_queued;     // written to the stream after the current entry
    quint64 m_entries = 0;          // numbers the entries given to the output
    quint64 m_run = 0;              // the output's run playing the current entry; 0: none
    bool m_nextHeard = false;       // the first queued entry is being heard: the current one ended
    std::int64_t m_startSample = 0; // where a stopped entry starts again
    State m_state = State::Stopped;
    float m_volume = 1.0f;
    bool m_ended = false;       // the current file has ended or failed
    qint64 m_endPositionUs = 0; // the position of an ended file, which the window may rewind
    quint64 m_serial = 0;       // counts assignments, so a late end never applies to a newer file
    // While playing: the position for those who show it, else the next entry's boundary.
    QTimer m_clock;
};

#pragma once

#include <QWidget>

#include "mediaengine.h"

class QLabel;
class QSlider;
class QToolButton;

// The media player control of the audio window: a MediaEngine with its own play/pause, stop,
// position and volume controls. The window hands it a file name and rewinds it; the rest is
// the control's own business.
class MediaPlayerControl : public QWidget {
    Q_OBJECT

public:
    explicit MediaPlayerControl(QWidget *parent = nullptr);

    MediaEngine *engine() const { return m_engine; }

    // The properties and event the window uses, as the engine has them.
    QString FileName() const { return m_engine->fileName(); }
    void setFileName(const QString &path) { m_engine->setFileName(path); }
    double CurrentPosition() const { return m_engine->CurrentPosition(); }
    void setCurrentPosition(double seconds) { m_engine->setCurrentPosition(seconds); }

    // "m:ss / m:ss" of the elapsed and total time.
    static QString timeText(qint64 elapsedMs, qint64 totalMs);

Q_SIGNALS:
    void EndOfStream(int result);

private:
    void updateState(MediaEngine::State state);

    MediaEngine *m_engine;
    QToolButton *m_playPause;
    QToolButton *m_stop;
    QSlider *m_position;
    QLabel *m_time;
    QSlider *m_volume;
};

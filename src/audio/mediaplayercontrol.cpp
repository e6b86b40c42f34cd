#include "mediaplayercontrol.h"

#include "controls.h"
#include "twips.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

namespace {
QString clock(qint64 ms)
{
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QString MediaPlayerControl::timeText(qint64 elapsedMs, qint64 totalMs)
{
    return clock(elapsedMs) + QStringLiteral(" / ") + clock(totalMs);
}

MediaPlayerControl::MediaPlayerControl(QWidget *parent)
    : QWidget(parent), m_engine(new MediaEngine(this)), m_playPause(new QToolButton(this)),
      m_stop(new QToolButton(this)), m_position(new QSlider(Qt::Horizontal, this)),
      m_time(new QLabel(this)), m_volume(new QSlider(Qt::Horizontal, this))
{
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(tr("Media player"));
    m_playPause->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    m_playPause->setAccessibleName(tr("Play"));
    m_stop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    m_stop->setAccessibleName(tr("Stop"));
    m_position->setAccessibleName(tr("Position"));
    m_position->setRange(0, 0);
    Controls::setReadableText(m_time, timeText(0, 0));
    m_volume->setAccessibleName(tr("Volume"));
    m_volume->setRange(0, 100);
    m_volume->setValue(qRound(m_engine->volume() * 100));
    m_volume->setMaximumWidth(Twips::toPixelsX(900));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    row->addWidget(m_playPause);
    row->addWidget(m_stop);
    row->addWidget(m_position, 1);
    row->addWidget(m_time);
    row->addWidget(m_volume);
    setFocusProxy(m_playPause);

    connect(m_playPause, &QToolButton::clicked, this, [this] {
        if (m_engine->playbackState() == MediaEngine::State::Playing)
            m_engine->pause();
        else
            m_engine->play();
    });
    connect(m_stop, &QToolButton::clicked, m_engine, &MediaEngine::stop);
    connect(m_position, &QSlider::sliderMoved, m_engine,
            [this](int ms) { m_engine->setPosition(ms); });
    connect(m_volume, &QSlider::valueChanged, m_engine,
            [this](int v) { m_engine->setVolume(v / 100.0f); });
    connect(m_engine, &MediaEngine::volumeChanged, this,
            [this](float v) { m_volume->setValue(qRound(v * 100)); });
    connect(m_engine, &MediaEngine::durationChanged, this, [this](qint64 ms) {
        m_position->setRange(0, int(ms));
        Controls::setReadableText(m_time, timeText(m_engine->position(), ms));
    });
    connect(m_engine, &MediaEngine::positionChanged, this, [this](qint64 ms) {
        if (!m_position->isSliderDown())
            m_position->setValue(int(ms));
        Controls::setReadableText(m_time, timeText(ms, m_engine->duration()));
    });
    connect(m_engine, &MediaEngine::playbackStateChanged, this, &MediaPlayerControl::updateState);
    connect(m_engine, &MediaEngine::endOfStream, this, &MediaPlayerControl::EndOfStream);
}

void MediaPlayerControl::updateState(MediaEngine::State state)
{
    const bool playing = state == MediaEngine::State::Playing;
    m_playPause->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_playPause->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

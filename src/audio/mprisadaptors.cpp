#include "mprisadaptors.h"

#include "mediaengine.h"
#include "mprisservice.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

MprisRootAdaptor::MprisRootAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{}

void MprisRootAdaptor::Raise() { m_service->raise(); }

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{}

const QStringList &MprisPlayerAdaptor::changingProperties()
{
    static const QStringList names{"PlaybackStatus", "Metadata", "Volume",   "CanGoNext",
                                   "CanGoPrevious",  "CanPlay",  "CanPause", "CanSeek"};
    return names;
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    switch (m_service->engine()->playbackState()) {
    case MediaEngine::State::Playing: return QStringLiteral("Playing");
    case MediaEngine::State::Paused: return QStringLiteral("Paused");
    case MediaEngine::State::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    const QString file = m_service->engine()->fileName();
    if (file.isEmpty())
        return {};
    const MediaEngine *engine = m_service->engine();
    const QString title = engine->title();
    QVariantMap map{
        {"mpris:trackid", QVariant::fromValue(QDBusObjectPath(m_service->trackId()))},
        {"xesam:url",
         QString::fromUtf8(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toEncoded())},
        {"xesam:title", title.isEmpty() ? QFileInfo(file).fileName() : title},
    };
    if (const QStringList artists = engine->artists(); !artists.isEmpty())
        map.insert("xesam:artist", artists);
    if (const QString album = engine->album(); !album.isEmpty())
        map.insert("xesam:album", album);
    if (const qint64 us = engine->durationUs(); us > 0)
        map.insert("mpris:length", qlonglong(us));
    return map;
}

qlonglong MprisPlayerAdaptor::position() const { return m_service->engine()->positionUs(); }

double MprisPlayerAdaptor::volume() const { return m_service->engine()->volume(); }

void MprisPlayerAdaptor::setVolume(double volume)
{
    m_service->engine()->setVolume(float(std::clamp(volume, 0.0, 1.0)));
}

bool MprisPlayerAdaptor::canGoNext() const { return m_service->canGoNext(); }

bool MprisPlayerAdaptor::canGoPrevious() const { return m_service->canGoPrevious(); }

bool MprisPlayerAdaptor::canPlay() const { return !m_service->engine()->fileName().isEmpty(); }

bool MprisPlayerAdaptor::canSeek() const
{
    return canPlay() && m_service->engine()->duration() > 0;
}

void MprisPlayerAdaptor::Play()
{
    if (canPlay() && m_service->engine()->playbackState() != MediaEngine::State::Playing)
        m_service->engine()->play();
}

void MprisPlayerAdaptor::Pause()
{
    if (m_service->engine()->playbackState() == MediaEngine::State::Playing)
        m_service->engine()->pause();
}

void MprisPlayerAdaptor::PlayPause()
{
    if (m_service->engine()->playbackState() == MediaEngine::State::Playing)
        Pause();
    else
        Play();
}

void MprisPlayerAdaptor::Stop() { m_service->engine()->stop(); }

void MprisPlayerAdaptor::Next() { m_service->next(); }

void MprisPlayerAdaptor::Previous() { m_service->previous(); }

void MprisPlayerAdaptor::Seek(qlonglong offset)
{
    if (!canSeek())
        return;
    MediaEngine *engine = m_service->engine();
    const qint64 target = std::max<qint64>(0, engine->positionUs() + offset);
    if (target >= engine->durationUs()) {
        m_service->next();
        return;
    }
    engine->setPositionUs(target);
    m_service->announceSeek(target / 1000);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &trackId, qlonglong position)
{
    // A request for another track is stale: the track changed while it travelled.
    if (!canSeek() || trackId.path() != m_service->trackId() || position < 0)
        return;
    MediaEngine *engine = m_service->engine();
    if (position > engine->durationUs())
        return;
    engine->setPositionUs(position);
    m_service->announceSeek(position / 1000);
}

void MprisPlayerAdaptor::OpenUri(const QString &uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile()) {
        if (m_service->calledFromDBus())
            m_service->sendErrorReply(QDBusError::NotSupported,
                                      QStringLiteral("Only file: URIs can be played: ") + uri);
        return;
    }
    m_service->open(url.toLocalFile());
}

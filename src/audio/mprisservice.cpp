#include "mprisservice.h"

#include "mediaengine.h"
#include "mprisadaptors.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// A position report further than this behind the last one, or ahead of where steady playback
// would be, is a jump; a stall (loading, a busy machine) falls behind and is none.
constexpr qint64 seekToleranceMs = 1000;
} // namespace

MprisService::MprisService(MediaEngine *engine, QObject *parent)
    : MprisService(engine, QDBusConnection::sessionBus(), parent)
{}

MprisService::MprisService(MediaEngine *engine, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_engine(engine), m_bus(bus)
{
    m_check.setSingleShot(true);
    m_check.setInterval(0);
    connect(&m_check, &QTimer::timeout, this, &MprisService::sendChanges);
    publish();
}

MprisService::~MprisService() { unpublish(); }

void MprisService::publish()
{
    if (!m_engine || !m_bus.isConnected())
        return;
    m_root = new MprisRootAdaptor(this);
    m_player = new MprisPlayerAdaptor(this);
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors))
        return;
    m_registered = true;
    // Several players of ours on one desktop: the later ones take instance names, as the
    // MPRIS naming rules provide.
    for (const QString &name :
         {serviceName,
          serviceName + ".instance" + QString::number(QCoreApplication::applicationPid())}) {
        if (m_bus.registerService(name)) {
            m_busName = name;
            break;
        }
    }
    if (m_busName.isEmpty()) {
        unpublish();
        return;
    }

    for (const QString &name : MprisPlayerAdaptor::changingProperties())
        m_sent.insert(name, m_player->property(name.toLatin1()));
    m_lastPosition = m_engine->position();
    m_sinceLastPosition.start();

    connect(m_engine, &MediaEngine::fileNameChanged, this, [this] {
        ++m_track;
        m_lastPosition = 0;
        m_sinceLastPosition.restart();
        scheduleCheck();
    });
    connect(m_engine, &MediaEngine::playbackStateChanged, this, [this] {
        // Time spent paused is no playback: measure steady progress from here.
        m_lastPosition = m_engine->position();
        m_sinceLastPosition.restart();
        scheduleCheck();
    });
    connect(m_engine, &MediaEngine::durationChanged, this, &MprisService::scheduleCheck);
    connect(m_engine, &MediaEngine::volumeChanged, this, &MprisService::scheduleCheck);
    connect(m_engine, &MediaEngine::positionChanged, this, &MprisService::onPosition);
    // The adaptors read the engine on every call: an engine gone takes the player off the bus.
    connect(m_engine, &QObject::destroyed, this, &MprisService::unpublish);
}

void MprisService::unpublish()
{
    m_check.stop();
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
    if (!m_busName.isEmpty())
        m_bus.unregisterService(m_busName);
    m_busName.clear();
    if (m_registered)
        m_bus.unregisterObject(objectPath);
    m_registered = false;
}

void MprisService::setNext(std::function<void()> next)
{
    m_next = std::move(next);
    scheduleCheck();
}

void MprisService::setPrevious(std::function<void()> previous)
{
    m_previous = std::move(previous);
    scheduleCheck();
}

void MprisService::setCanGoNext(bool can)
{
    m_canGoNext = can;
    scheduleCheck();
}

void MprisService::setCanGoPrevious(bool can)
{
    m_canGoPrevious = can;
    scheduleCheck();
}

void MprisService::next()
{
    if (canGoNext())
        m_next();
}

void MprisService::previous()
{
    if (canGoPrevious())
        m_previous();
}

void MprisService::raise()
{
    if (m_raise)
        m_raise();
}

void MprisService::open(const QString &path)
{
    if (m_open)
        m_open(path);
    else
        m_engine->setFileName(path);
}

QString MprisService::trackId() const
{
    return QStringLiteral("/org/velmaric/track/") + QString::number(m_track);
}

void MprisService::announceSeek(qint64 ms)
{
    m_lastPosition = ms;
    m_sinceLastPosition.restart();
    if (m_registered)
        Q_EMIT m_player->Seeked(ms * 1000);
}

void MprisService::scheduleCheck()
{
    if (m_registered)
        m_check.start();
}

// PropertiesChanged is ours to send: Qt's adaptors never emit it.
void MprisService::sendChanges()
{
    QVariantMap changed;
    for (const QString &name : MprisPlayerAdaptor::changingProperties()) {
        const QVariant value = m_player->property(name.toLatin1());
        if (m_sent.value(name) != value) {
            m_sent.insert(name, value);
            changed.insert(name, value);
        }
    }
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal.setArguments({playerInterface, changed, QStringList()});
    m_bus.send(signal);
}

void MprisService::onPosition(qint64 ms)
{
    const bool playing = m_engine->playbackState() == MediaEngine::State::Playing;
    const qint64 expected = m_lastPosition + (playing ? m_sinceLastPosition.elapsed() : 0);
    if (ms < m_lastPosition - seekToleranceMs || ms > expected + seekToleranceMs)
        announceSeek(ms);
    m_lastPosition = ms;
    m_sinceLastPosition.restart();
}

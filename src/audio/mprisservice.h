#pragma once

#include "mediaengine.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <functional>

class MprisPlayerAdaptor;
class MprisRootAdaptor;

// Publishes a MediaEngine on the session bus as an MPRIS 2 player, so desktop media keys and
// sound applets can control it. Without a session bus it does nothing: playback never depends
// on the bus. The name is released when the service is destroyed. Calls reach it through its
// adaptors, which use its call context to answer with errors.
class MprisService : public QObject, public QDBusContext {
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("org.mpris.MediaPlayer2.velmaric");
    static inline const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");

    explicit MprisService(MediaEngine *engine, QObject *parent = nullptr);
    // Publishes on the given bus instead of the session bus.
    MprisService(MediaEngine *engine, const QDBusConnection &bus, QObject *parent = nullptr);
    ~MprisService() override;

    // The bus name owned: serviceName, or serviceName + ".instance<pid>" when another player
    // holds it already; empty when nothing is published.
    QString busName() const { return m_busName; }

    void setNext(std::function<void()> next);
    void setPrevious(std::function<void()> previous);
    void setRaise(std::function<void()> raise) { m_raise = std::move(raise); }
    // Plays a local file asked for by OpenUri; without it the file goes straight to the engine.
    void setOpen(std::function<void(const QString &path)> open) { m_open = std::move(open); }
    void setCanGoNext(bool can);
    void setCanGoPrevious(bool can);

    MediaEngine *engine() const { return m_engine; }
    // Next and Previous are offered only with both the flag and the callback set.
    bool canGoNext() const { return m_canGoNext && m_next; }
    bool canGoPrevious() const { return m_canGoPrevious && m_previous; }
    void next();
    void previous();
    void raise();
    void open(const QString &path);

    // Object path naming the file now loaded; a new one for every assignment.
    QString trackId() const;
    // Reports a jump of the play position to the bus (the Seeked signal).
    void announceSeek(qint64 ms);

private:
    void publish();
    void unpublish();
    void scheduleCheck();
    void sendChanges();
    void onPosition(qint64 ms);

    QPointer<MediaEngine> m_engine;
    QDBusConnection m_bus;
    MprisRootAdaptor *m_root = nullptr;
    MprisPlayerAdaptor *m_player = nullptr;
    QString m_busName;
    bool m_registered = false; // the object is exported at objectPath
    std::function<void()> m_next, m_previous, m_raise;
    std::function<void(const QString &)> m_open;
    bool m_canGoNext = false;
    bool m_canGoPrevious = false;
    quint64 m_track = 0;
    // Player properties as last sent, so PropertiesChanged carries exactly what changed.
    QHash<QString, QVariant> m_sent;
    QTimer m_check; // gathers the changes of one event-loop pass into one signal
    qint64 m_lastPosition = 0;
    QElapsedTimer m_sinceLastPosition;
};

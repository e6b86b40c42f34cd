#include "mediaengine.h"
#include "mprisservice.h"
#include "../peers/tonemp3.h"

#include <QtDBus>
#include <QtTest>

#include <memory>
#include <unistd.h>
#include <vector>

namespace {
const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Values of a{sv} arrive wrapped; unwrap them into plain maps.
QVariantMap asMap(const QVariant &v)
{
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(v.value<QDBusArgument>())
                                         : v.toMap();
}
// A call from a media key or applet, made while a.mp3 plays (or is paused or stopped), and
// what it must leave behind.
struct Call {
    QString before, method;
    // SetPosition's first: "current" or "stale" track; OpenUri's "%1": the folder
    QVariantList args = {};
    QString status = "Playing", title = "a.mp3";
    bool canGoNext = true;
    // The Seeked signal's position lies within these; -1: no signal; -2: not looked at
    qlonglong seekedFrom = -2, seekedTo = -2;
};
} // namespace
Q_DECLARE_METATYPE(Call)

// The player as desktop media keys and sound applets see it: a session bus of the test's own,
// a real engine, real MP3 files, and a client on a connection of its own.
class tst_Mpris : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Only what this test's service says counts: a signal of an earlier one may still travel.
    void onSignal(const QDBusMessage &msg)
    {
        const QVariantList args = msg.arguments();
        if (msg.service() != m_sender)
            return;
        if (msg.member() == "Seeked")
            m_seeked << args.value(0).toLongLong();
        else if (args.value(0) == playerInterface)
            for (const auto &[key, value] : asMap(args.value(1)).asKeyValueRange())
                m_seen.insert(key, key == "Metadata" ? QVariant(asMap(value)) : value);
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void calls_data();
    void calls();
    void volume();
    void raiseAndForeignUri();
    void nameLifecycle();
    void noBus();

private:
    QDBusMessage call(const QString &iface, const QString &method, const QVariantList &args = {});
    QVariant get(const QString &property);
    void startPlaying();
    static QDBusConnection bus(const QString &name)
    {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    QString file(const char *name) const { return m_mp3.dir() + '/' + name; }

    ToneMp3 m_mp3;
    int m_connections = 0;
    QDBusConnection m_client{QString()};
    QString m_sender; // the unique bus name of the service under test
    std::unique_ptr<MediaEngine> m_engine;
    std::unique_ptr<MprisService> m_service;
    QVariantMap m_seen; // player properties as PropertiesChanged last told them
    QList<qlonglong> m_seeked;
    int m_raised = 0;
};

void tst_Mpris::initTestCase()
{
    if (const QString problem = MediaEngine::outputProblem(); !problem.isEmpty())
        QSKIP(qPrintable(problem));
    if (qgetenv("VELMARIC_OWN_BUS") != "1")
        QSKIP("dbus-run-session is not installed");
    // Long enough to stay playing through every step of a test.
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QVERIFY2(!m_mp3.make(name, 30).isEmpty(), qPrintable(m_mp3.error()));

    m_client = bus("client");
    QVERIFY(m_client.connect(QString(), MprisService::objectPath, propertiesInterface,
                             "PropertiesChanged", this, SLOT(onSignal(QDBusMessage))));
    QVERIFY(m_client.connect(QString(), MprisService::objectPath, playerInterface, "Seeked", this,
                             SLOT(onSignal(QDBusMessage))));
}

void tst_Mpris::init()
{
    m_service.reset(); // the last test's, releasing the name
    m_engine = std::make_unique<MediaEngine>();
    const QDBusConnection serviceBus = bus("service" + QString::number(++m_connections));
    m_sender = serviceBus.baseService();
    m_service = std::make_unique<MprisService>(m_engine.get(), serviceBus);
    QCOMPARE(m_service->busName(), MprisService::serviceName);
    m_service->setNext([this] { m_engine->setFileName(file("b.mp3")); });
    m_service->setPrevious([this] { m_engine->setFileName(file("c.mp3")); });
    m_service->setRaise([this] { ++m_raised; });
    m_service->setCanGoNext(true);
    m_service->setCanGoPrevious(true);
    m_seen.clear();
    m_seeked.clear();
}

// The service lives in this process: wait for replies with the event loop running.
QDBusMessage tst_Mpris::call(const QString &iface, const QString &method, const QVariantList &args)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(MprisService::serviceName,
                                                      MprisService::objectPath, iface, method);
    msg.setArguments(args);
    return m_client.call(msg, QDBus::BlockWithGui, 10000);
}

QVariant tst_Mpris::get(const QString &property)
{
    const QDBusMessage reply = call(propertiesInterface, "Get", {playerInterface, property});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// Also what applets read of it: an object path for the id, 64-bit microseconds for the length.
void tst_Mpris::startPlaying()
{
    m_engine->setFileName(file("a.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(m_seen.value("PlaybackStatus").toString(), QString("Playing"), 10000);
    QTRY_VERIFY(m_engine->duration() > 0);
    const QVariantMap map = asMap(get("Metadata"));
    QCOMPARE(map.value("mpris:trackid").userType(), qMetaTypeId<QDBusObjectPath>());
    QCOMPARE(map.value("xesam:url").toString(), QUrl::fromLocalFile(file("a.mp3")).toString());
    QCOMPARE(map.value("mpris:length").userType(), QMetaType::LongLong);
    QVERIFY2(qAbs(map.value("mpris:length").toLongLong() - 30'000'000) < 500'000,
             qPrintable(map.value("mpris:length").toString()));
    QTRY_COMPARE(m_seen.value("Metadata").toMap().value("mpris:length"), map.value("mpris:length"));
    QVERIFY(get("Position").toLongLong() >= 0);
}

void tst_Mpris::calls_data()
{
    QTest::addColumn<Call>("request");
    QTest::newRow("PlayPause pauses") << Call{"Playing", "PlayPause", {}, "Paused"};
    QTest::newRow("PlayPause resumes") << Call{"Paused", "PlayPause"};
    QTest::newRow("Pause") << Call{"Playing", "Pause", {}, "Paused"};
    QTest::newRow("Play resumes") << Call{"Paused", "Play"};
    QTest::newRow("Play after Stop") << Call{"Stopped", "Play"};
    QTest::newRow("Stop") << Call{"Playing", "Stop", {}, "Stopped"};
    QTest::newRow("Next") << Call{"Playing", "Next", {}, "Playing", "b.mp3"};
    QTest::newRow("Previous") << Call{"Playing", "Previous", {}, "Playing", "c.mp3"};
    QTest::newRow("Next, none to go to") << Call{"Playing", "Next", {}, "Playing", "a.mp3", false};
    QTest::newRow("OpenUri") << Call{"Playing", "OpenUri", {"file://%1/c.mp3"}, "Playing", "c.mp3"};
    QTest::newRow("Seek past the end is Next")
        << Call{"Playing", "Seek", {60'000'000LL}, "Playing", "b.mp3"};
    const QVariantList forward{3'000'000LL}, atFive{"current", 5'000'000LL};
    QTest::newRow("Seek forward") << Call{"Playing", "Seek", forward,   "Playing",
                                          "a.mp3",   true,   3'000'000, 8'000'000};
    QTest::newRow("Seek before the start")
        << Call{"Playing", "Seek", {-10'000'000LL}, "Playing", "a.mp3", true, 0, 0};
    QTest::newRow("SetPosition") << Call{"Playing", "SetPosition", atFive,    "Playing",
                                         "a.mp3",   true,          5'000'000, 5'000'000};
    QTest::newRow("SetPosition, stale track")
        << Call{"Playing", "SetPosition", {"stale", 5'000'000LL}, "Playing", "a.mp3", true, -1};
    QTest::newRow("SetPosition, negative")
        << Call{"Playing", "SetPosition", {"current", -1LL}, "Playing", "a.mp3", true, -1};
    QTest::newRow("SetPosition, past the end")
        << Call{"Playing", "SetPosition", {"current", 40'000'000LL}, "Playing", "a.mp3", true, -1};
}

void tst_Mpris::calls()
{
    QFETCH(Call, request);
    QVariantList args = request.args;
    m_service->setCanGoNext(request.canGoNext);
    QCOMPARE(get("CanGoNext").toBool(), request.canGoNext);
    startPlaying();
    if (request.before == "Paused")
        m_engine->pause();
    else if (request.before == "Stopped")
        m_engine->stop();
    QTRY_COMPARE(m_seen.value("PlaybackStatus").toString(), request.before);
    if (request.method == "OpenUri")
        args[0] = args[0].toString().arg(m_mp3.dir());
    if (request.method == "SetPosition")
        args[0] = QVariant::fromValue(QDBusObjectPath(
            args[0] == "current" ? m_service->trackId() : "/org/velmaric/track/stale"));

    QCOMPARE(call(playerInterface, request.method, args).type(), QDBusMessage::ReplyMessage);
    // Each look is a round trip: a signal sent with the reply has arrived by its end.
    QTRY_COMPARE_WITH_TIMEOUT(get("PlaybackStatus").toString(), request.status, 10000);
    QCOMPARE(QFileInfo(m_engine->fileName()).fileName(), request.title);
    QTRY_COMPARE(m_seen.value("PlaybackStatus").toString(), request.status);
    QTRY_COMPARE(m_seen.value("Metadata").toMap().value("xesam:title").toString(), request.title);
    if (request.seekedFrom == -1)
        QVERIFY2(m_seeked.isEmpty(), qPrintable(QString::number(m_seeked.value(0))));
    if (request.seekedFrom < 0)
        return;
    QTRY_VERIFY(!m_seeked.isEmpty());
    QVERIFY2(m_seeked.first() >= request.seekedFrom && m_seeked.first() <= request.seekedTo,
             qPrintable(QString::number(m_seeked.first())));
    QTRY_VERIFY(m_engine->position() * 1000 >= request.seekedFrom);
}

// Kept within silence and full volume, each change told.
void tst_Mpris::volume()
{
    for (const auto &[set, expected] : {std::pair(-1.0, 0.0), std::pair(2.0, 1.0)}) {
        const QVariant value = QVariant::fromValue(QDBusVariant(set));
        QCOMPARE(call(propertiesInterface, "Set", {playerInterface, "Volume", value}).type(),
                 QDBusMessage::ReplyMessage);
        QCOMPARE(m_engine->volume(), float(expected));
        QTRY_COMPARE(m_seen.value("Volume").toDouble(), expected);
    }
}

// Raise reaches the window; a URI that is not a local file is refused and plays nothing.
void tst_Mpris::raiseAndForeignUri()
{
    QCOMPARE(call(rootInterface, "Raise").type(), QDBusMessage::ReplyMessage);
    QCOMPARE(m_raised, 1);
    const QDBusMessage reply = call(playerInterface, "OpenUri", {"http://127.0.0.1:9/a.mp3"});
    QCOMPARE(reply.errorName(), QString("org.freedesktop.DBus.Error.NotSupported"));
    QVERIFY(m_engine->fileName().isEmpty());
    QCOMPARE(get("CanPlay"), QVariant(false));
}

// The name is held while the service lives; a second player takes an instance name.
void tst_Mpris::nameLifecycle()
{
    QDBusConnectionInterface *busInterface = m_client.interface();
    QVERIFY(busInterface->isServiceRegistered(MprisService::serviceName));
    MediaEngine otherEngine;
    auto other = std::make_unique<MprisService>(&otherEngine,
                                                bus("other" + QString::number(++m_connections)));
    const QString instance = MprisService::serviceName + ".instance" +
                             QString::number(QCoreApplication::applicationPid());
    QCOMPARE(other->busName(), instance);
    QVERIFY(busInterface->isServiceRegistered(instance));
    m_service.reset();
    other.reset();
    QTRY_VERIFY(!busInterface->isServiceRegistered(MprisService::serviceName).value());
    QTRY_VERIFY(!busInterface->isServiceRegistered(instance).value());
}

// No bus: nothing is published and the engine plays all the same.
void tst_Mpris::noBus()
{
    MediaEngine engine;
    const QDBusConnection gone = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/bus"), "gone");
    QVERIFY(!gone.isConnected());
    {
        MprisService service(&engine, gone);
        QVERIFY(service.busName().isEmpty());
        engine.setFileName(file("a.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(engine.playbackState(), MediaEngine::State::Playing, 10000);
    }
    QDBusConnection::disconnectFromBus("gone");
}

int main(int argc, char **argv)
{
    // A session bus of the test's own, gone with it: never the desktop's, and test runs side
    // by side never meet.
    if (qgetenv("VELMARIC_OWN_BUS") != "1") {
        qputenv("VELMARIC_OWN_BUS", "1");
        std::vector<char *> args{const_cast<char *>("dbus-run-session"), const_cast<char *>("--")};
        args.insert(args.end(), argv, argv + argc + 1);
        ::execvp(args[0], args.data());
        qputenv("VELMARIC_OWN_BUS", "0");
    }
    qputenv("QT_MEDIA_BACKEND", "ffmpeg"); // as the suite selects it
    QCoreApplication app(argc, argv);
    tst_Mpris test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mpris.moc"

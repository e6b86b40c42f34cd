#include "mediaengine.h"
#include "mprisservice.h"
#include "skip.h"
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
    QString before = "Playing", method;
    // SetPosition's first: "current" or "stale" track
    QVariantList args = {};
    QString error = {}; // the error the call is answered with
    QString status = "Playing", title = "a.mp3";
    bool canGoNext = true;
    // The Seeked signal's position lies within these seconds; -1: no signal; -2: not looked at
    int from = -2, to = -2;
};
} // namespace
Q_DECLARE_METATYPE(Call)

// The player as desktop media keys and sound applets see it: a session bus of the test's own,
// a real engine, real MP3 files, and a client on a connection of its own.
class tst_Mpris : public QObject {
    Q_OBJECT

    ToneMp3 m_mp3;
    int m_connections = 0;
    QDBusConnection m_client{QString()};
    QString m_sender; // the unique bus name of the service under test
    std::unique_ptr<MediaEngine> m_engine;
    std::unique_ptr<MprisService> m_service;
    QVariantMap m_seen; // player properties as PropertiesChanged last told them
    QList<qlonglong> m_seeked;
    int m_raised = 0;

    static QDBusConnection bus(const QString &name)
    {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    QString file(const char *name) const { return m_mp3.dir() + '/' + name; }

    // The service lives in this process: wait for replies with the event loop running.
    QDBusMessage call(const QString &iface, const QString &method, const QVariantList &args = {})
    {
        QDBusMessage msg = QDBusMessage::createMethodCall(MprisService::serviceName,
                                                          MprisService::objectPath, iface, method);
        msg.setArguments(args);
        return m_client.call(msg, QDBus::BlockWithGui, 10000);
    }
    QVariant get(const QString &property)
    {
        const QDBusMessage reply = call(propertiesInterface, "Get", {playerInterface, property});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

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
    void initTestCase()
    {
        if (const QString problem = MediaEngine::outputProblem(); !problem.isEmpty())
            VELMARIC_SKIP(qPrintable(problem));
        if (qgetenv("VELMARIC_OWN_BUS") != "1")
            VELMARIC_SKIP("dbus-run-session is not installed");
        // Long enough to stay playing through every step of a test.
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
            QVERIFY2(!m_mp3.make(name, 30).isEmpty(), qPrintable(m_mp3.error()));
        m_client = bus("client");
        for (const char *signal : {"PropertiesChanged", "Seeked"})
            QVERIFY(m_client.connect(QString(), MprisService::objectPath,
                                     *signal == 'S' ? playerInterface : propertiesInterface, signal,
                                     this, SLOT(onSignal(QDBusMessage))));
    }

    void init()
    {
        m_service.reset(); // the last test's, releasing the name
        m_engine = std::make_unique<MediaEngine>();
        const QDBusConnection serviceBus = bus("service" + QString::number(++m_connections));
        m_sender = serviceBus.baseService();
        m_service = std::make_unique<MprisService>(m_engine.get(), serviceBus);
        m_service->setNext([this] { m_engine->setFileName(file("b.mp3")); });
        m_service->setPrevious([this] { m_engine->setFileName(file("c.mp3")); });
        m_service->setRaise([this] { ++m_raised; });
        m_service->setCanGoPrevious(true);
        m_seen.clear();
        m_seeked.clear();
    }

    void calls_data()
    {
        QTest::addColumn<Call>("request");
        QTest::newRow("PlayPause pauses") << Call{.method = "PlayPause", .status = "Paused"};
        QTest::newRow("PlayPause resumes") << Call{.before = "Paused", .method = "PlayPause"};
        QTest::newRow("Pause") << Call{.method = "Pause", .status = "Paused"};
        QTest::newRow("Play resumes") << Call{.before = "Paused", .method = "Play"};
        QTest::newRow("Play after Stop") << Call{.before = "Stopped", .method = "Play"};
        QTest::newRow("Stop") << Call{.method = "Stop", .status = "Stopped"};
        QTest::newRow("Next") << Call{.method = "Next", .title = "b.mp3"};
        QTest::newRow("Previous") << Call{.method = "Previous", .title = "c.mp3"};
        QTest::newRow("Next, none to go to") << Call{.method = "Next", .canGoNext = false};
        const QString uri = QUrl::fromLocalFile(file("c.mp3")).toString();
        QTest::newRow("OpenUri") << Call{.method = "OpenUri", .args = {uri}, .title = "c.mp3"};
        // Refused, and nothing else plays.
        QTest::newRow("OpenUri, not a local file")
            << Call{.method = "OpenUri",
                    .args = {"http://127.0.0.1:9/a.mp3"},
                    .error = "org.freedesktop.DBus.Error.NotSupported"};
        QTest::newRow("Seek past the end is Next")
            << Call{.method = "Seek", .args = {60'000'000LL}, .title = "b.mp3"};
        QTest::newRow("Seek forward")
            << Call{.method = "Seek", .args = {3'000'000LL}, .from = 3, .to = 8};
        QTest::newRow("Seek before the start")
            << Call{.method = "Seek", .args = {-10'000'000LL}, .from = 0, .to = 0};
        QTest::newRow("SetPosition")
            << Call{.method = "SetPosition", .args = {"current", 5'000'000LL}, .from = 5, .to = 5};
        QTest::newRow("SetPosition, stale track")
            << Call{.method = "SetPosition", .args = {"stale", 5'000'000LL}, .from = -1};
        QTest::newRow("SetPosition, negative")
            << Call{.method = "SetPosition", .args = {"current", -1LL}, .from = -1};
        QTest::newRow("SetPosition, past the end")
            << Call{.method = "SetPosition", .args = {"current", 40'000'000LL}, .from = -1};
    }

    void calls()
    {
        QFETCH(Call, request);
        QVariantList args = request.args;
        m_service->setCanGoNext(request.canGoNext);
        QCOMPARE(get("CanPlay"), QVariant(false)); // nothing to play yet
        m_engine->setFileName(file("a.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(m_seen.value("PlaybackStatus").toString(), QString("Playing"),
                                  10000);
        QTRY_VERIFY(m_engine->duration() > 0);
        // What applets read of it: an object path for the id, 64-bit microseconds for the length.
        const QVariantMap map = asMap(get("Metadata"));
        QCOMPARE(map.value("mpris:trackid").userType(), qMetaTypeId<QDBusObjectPath>());
        QCOMPARE(map.value("xesam:url").toString(), QUrl::fromLocalFile(file("a.mp3")).toString());
        const QVariant length = map.value("mpris:length");
        QCOMPARE(length.userType(), QMetaType::LongLong);
        QVERIFY2(qAbs(length.toLongLong() - 30'000'000) < 500'000, qPrintable(length.toString()));
        QTRY_COMPARE(m_seen.value("Metadata").toMap().value("mpris:length"), length);
        if (request.before != "Playing")
            request.before == "Paused" ? m_engine->pause() : m_engine->stop();
        QTRY_COMPARE(m_seen.value("PlaybackStatus").toString(), request.before);
        if (request.method == "SetPosition")
            args[0] = QVariant::fromValue(QDBusObjectPath(
                args[0] == "current" ? m_service->trackId() : "/org/velmaric/track/stale"));

        QCOMPARE(call(playerInterface, request.method, args).errorName(), request.error);
        // Each look is a round trip: a signal sent with the reply has arrived by its end.
        QTRY_COMPARE_WITH_TIMEOUT(get("PlaybackStatus").toString(), request.status, 10000);
        QCOMPARE(QFileInfo(m_engine->fileName()).fileName(), request.title);
        QTRY_COMPARE(m_seen.value("PlaybackStatus").toString(), request.status);
        QTRY_COMPARE(m_seen.value("Metadata").toMap().value("xesam:title").toString(),
                     request.title);
        if (request.from == -1)
            QCOMPARE(m_seeked, QList<qlonglong>());
        if (request.from < 0)
            return;
        QTRY_VERIFY(!m_seeked.isEmpty());
        const qlonglong at = m_seeked.first();
        QVERIFY2(at >= request.from * 1'000'000LL && at <= request.to * 1'000'000LL,
                 qPrintable(QString::number(at)));
        QTRY_VERIFY(m_engine->position() >= request.from * 1000);
    }

    // Tags reach applets: ID3v2 and ID3v1 alike; without a title the file name stands in.
    void metadata_data()
    {
        QTest::addColumn<QStringList>("tags"); // lame's options
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("artists");
        QTest::addColumn<QString>("album");
        QTest::newRow("ID3v2") << QStringList{"--id3v2-only", "--tt", "Grüße",  "--ta",
                                              "Ann Lee",      "--tl", "Album A"}
                               << "Grüße" << QStringList{"Ann Lee"} << "Album A";
        QTest::newRow("ID3v1 only")
            << QStringList{"--id3v1-only", "--tt", "Old", "--ta", "Bo", "--tl", "Disc"} << "Old"
            << QStringList{"Bo"} << "Disc";
        QTest::newRow("no tags") << QStringList{} << "" << QStringList{} << "";
    }

    void metadata()
    {
        QFETCH(QStringList, tags);
        QFETCH(QString, title);
        const QString name = QString(QTest::currentDataTag()).replace(' ', '_') + ".mp3";
        const QString path = m_mp3.make(name, 0.5, QStringList{"-b", "64"} + tags);
        QVERIFY2(!path.isEmpty(), qPrintable(m_mp3.error()));
        m_engine->setFileName(path);
        if (title.isEmpty())
            title = name;
        QTRY_COMPARE(m_seen.value("Metadata").toMap().value("xesam:title").toString(), title);
        const QVariantMap map = asMap(get("Metadata"));
        QCOMPARE(map.value("xesam:title").toString(), title);
        QTEST(map.value("xesam:artist").toStringList(), "artists");
        QTEST(map.value("xesam:album").toString(), "album");
        QCOMPARE(map.value("mpris:length").toLongLong(), m_engine->durationUs());
    }

    // A file that can't be played after one that played: the desktop is told it stopped.
    void unplayable()
    {
        m_engine->setFileName(file("a.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(m_seen.value("PlaybackStatus").toString(), QString("Playing"),
                                  10000);
        QFile broken(m_mp3.dir() + "/broken.mp3");
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'Z')) == 4096);
        broken.close();
        m_engine->setFileName(broken.fileName());
        QTRY_VERIFY(!m_engine->errorText().isEmpty());
        QTRY_COMPARE(m_seen.value("PlaybackStatus").toString(), QString("Stopped"));
        QCOMPARE(get("PlaybackStatus").toString(), QString("Stopped"));
    }

    // Kept within silence and full volume, each change told.
    void volume()
    {
        for (const auto &[set, expected] : {std::pair(-1.0, 0.0), std::pair(2.0, 1.0)}) {
            const QVariant value = QVariant::fromValue(QDBusVariant(set));
            QCOMPARE(call(propertiesInterface, "Set", {playerInterface, "Volume", value}).type(),
                     QDBusMessage::ReplyMessage);
            QCOMPARE(m_engine->volume(), float(expected));
            QTRY_COMPARE(m_seen.value("Volume").toDouble(), expected);
        }
    }

    // Raise reaches the window; the name is held while the service lives, and a second
    // player takes an instance name.
    void raiseAndNames()
    {
        QCOMPARE(call(rootInterface, "Raise").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(m_raised, 1);
        QDBusConnectionInterface *busInterface = m_client.interface();
        QVERIFY(busInterface->isServiceRegistered(MprisService::serviceName));
        MediaEngine otherEngine;
        auto other = std::make_unique<MprisService>(
            &otherEngine, bus("other" + QString::number(++m_connections)));
        const QString instance = MprisService::serviceName + ".instance" +
                                 QString::number(QCoreApplication::applicationPid());
        QCOMPARE(other->busName(), instance);
        QVERIFY(busInterface->isServiceRegistered(instance));
        m_service.reset();
        other.reset();
        QTRY_VERIFY(!busInterface->isServiceRegistered(MprisService::serviceName).value());
        QTRY_VERIFY(!busInterface->isServiceRegistered(instance).value());
    }

    // No bus (a connection that never came up): nothing is published, and the engine plays
    // all the same.
    void noBus()
    {
        MediaEngine engine;
        MprisService service(&engine, QDBusConnection(QString()));
        QVERIFY(service.busName().isEmpty());
        engine.setFileName(file("a.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(engine.playbackState(), MediaEngine::State::Playing, 10000);
    }
};

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
    QCoreApplication app(argc, argv);
    tst_Mpris test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mpris.moc"

// The suite itself, a Get stalled half-way on the plain server, ended as a user would (SIGTERM,
// File > Exit): it ends at once, the local file keeps its content, nothing is left beside it.
#include "ftpserver.h"
#include "skip.h"
#include "suiteprocess.h"

#include <QtTest>

class tst_FtpQuit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void suiteEndsDuringGet_data()
    {
        QTest::addColumn<bool>("signal"); // else File > Exit
        QTest::newRow("SIGTERM") << true;
        QTest::newRow("File > Exit") << false;
    }
    void suiteEndsDuringGet()
    {
        QFETCH(bool, signal);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            VELMARIC_SKIP("needs an X display (Xvfb)");
        QTemporaryDir wire, dir;
        FtpServerPeer server({"--stall-after", "65536", "--wire", wire.path()});
        REQUIRE_FTP_SERVER(server);
        QVERIFY(
            server.writeFile(QString(FtpServerPeer::home) + "/big.bin", QByteArray(1 << 20, 'b')));
        QVERIFY(writeFile(dir.filePath("big.bin"), "keep me"));
        QProcess suite;
        START_SUITE(suite, dir.path(), dir.filePath("config"));
        // Tools > FTP; Start Session; server, user, password; Connect; the tree's only file; Get.
        QVERIFY(xdotool({"key", "--delay", "150", "alt+t", "f", "space", "Tab"}));
        QVERIFY(xdotool({"type", "--delay", "20", server.server()}));
        QVERIFY(xdotool({"key", "Tab"}));
        QVERIFY(xdotool({"type", "--delay", "20", FtpServerPeer::user}));
        QVERIFY(xdotool({"key", "Tab"}));
        QVERIFY(xdotool({"type", "--delay", "20", FtpServerPeer::password}));
        QVERIFY(xdotool({"key", "--delay", "100", "Tab", "space"}));
        QFile sent(wire.filePath("out"));
        QVERIFY2(QTest::qWaitFor([&] { return sent.size() > 0; }, 20000), "no listing");
        const qint64 listing = sent.size();
        QVERIFY(
            xdotool({"key", "--delay", "100", "Tab", "Tab", "Tab", "Tab", "End", "Tab", "space"}));
        QVERIFY2(QTest::qWaitFor([&] { return sent.size() >= listing + 65536; }, 20000),
                 "the Get did not start");

        END_SUITE_AT_ONCE(suite, signal);
        QCOMPARE(readFile(dir.filePath("big.bin")), QByteArray("keep me"));
        // The suite writes its norvo.ini here too; a temporary file would carry the name.
        QCOMPARE(QDir(dir.path()).entryList({"*big*"}, QDir::Files | QDir::Hidden),
                 QStringList{"big.bin"});
    }
};

QTEST_MAIN(tst_FtpQuit)
#include "tst_ftpquit.moc"

// The suite itself, a Get stalled half-way on the plain server, ended as a user would (SIGTERM,
// File > Exit): it ends at once, the local file keeps its content, nothing is left beside it.
#include "ftpserver.h"
#include "skip.h"

#include <QtTest>

#include <csignal>

namespace {
bool xdotool(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    const bool ok = p.waitForFinished(5000) && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return ok;
}
} // namespace

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
        QVERIFY(server.writeFile(QString(FtpServerPeer::home) + "/big.bin", QByteArray(1 << 20, 'b')));
        QVERIFY(writeFile(dir.filePath("big.bin"), "keep me"));
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath("config"));
        QProcess suite;
        suite.setProcessEnvironment(env);
        suite.setWorkingDirectory(dir.path());
        suite.start(QStringLiteral(VELMARIC_BIN), QStringList());
        QVERIFY(suite.waitForStarted());
        QByteArray id;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return suite.state() != QProcess::Running ||
                       xdotool({"search", "--onlyvisible", "--name", "^Velmaric$"}, &id);
            },
            90000));
        QVERIFY(xdotool({"windowfocus", "--sync", QString::fromLatin1(id.split('\n').first())}));
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
        QVERIFY(xdotool({"key", "--delay", "100", "Tab", "Tab", "Tab", "Tab", "End", "Tab", "space"}));
        QVERIFY2(QTest::qWaitFor([&] { return sent.size() >= listing + 65536; }, 20000),
                 "the Get did not start");

        QElapsedTimer timer;
        timer.start();
        if (signal)
            ::kill(pid_t(suite.processId()), SIGTERM);
        else
            QVERIFY(xdotool({"key", "--delay", "100", "alt+f", "x"}));
        QVERIFY(suite.waitForFinished(10000));
        QVERIFY2(timer.elapsed() < 2000, QByteArray::number(timer.elapsed()) + " ms");
        QCOMPARE(suite.exitStatus(), QProcess::NormalExit);
        QCOMPARE(suite.exitCode(), 0);
        QCOMPARE(readFile(dir.filePath("big.bin")), QByteArray("keep me"));
        // The suite writes its norvo.ini here too; a temporary file would carry the name.
        QCOMPARE(QDir(dir.path()).entryList({"*big*"}, QDir::Files | QDir::Hidden),
                 QStringList{"big.bin"});
    }
};

QTEST_MAIN(tst_FtpQuit)
#include "tst_ftpquit.moc"

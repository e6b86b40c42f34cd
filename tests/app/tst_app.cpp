// The real executable: information options, the start-up timing option, closing on signals.
#include "closedproxy.h"
#include "usersettings.h"

#include <QtTest>

#include <csignal>

class tst_App : public QObject {
    Q_OBJECT

    // The suite in a folder of its own with settings of its own; without a display if told.
    static void start(QProcess &p, const QString &dir, const QStringList &args, bool display = true)
    {
        auto e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + "/config");
        if (!display) {
            e.remove(QStringLiteral("DISPLAY")); // would fail if it tried to open a window
            e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral(VELMARIC_BIN), args);
    }
    static bool windowShown()
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
                      {"search", "--onlyvisible", "--name", "^Velmaric$"});
        return xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase() { keepPagesOffline(); }

    // Options that end the suite by themselves, the information ones without opening a window.
    void optionsEndTheSuite_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("output");
        QTest::newRow("help") << "--help" << false << QStringLiteral("Usage: velmaric");
        QTest::newRow("version") << "--version" << false
                                 << QStringLiteral("velmaric " VELMARIC_VERSION);
        QTest::newRow("exit after first page")
            << "--exit-after-first-page" << true << QStringLiteral("VELMARIC_BENCH_LOADED ");
    }
    void optionsEndTheSuite()
    {
        QFETCH(QString, option);
        QFETCH(bool, window);
        if (window && qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (Xvfb)");
        QTemporaryDir dir;
        QProcess p;
        start(p, dir.path(), {option}, window);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QFETCH(QString, output);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).startsWith(output));
    }

    void signalsCloseLikeExit_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("writable"); // false: the settings folder can't be made
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGTERM, settings unwritable") << int(SIGTERM) << false;
    }
    void signalsCloseLikeExit()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (Xvfb)");
        QFETCH(int, signal);
        QFETCH(bool, writable);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("config"));
        QFile blocker(dir.path() + "/config/velmaric"); // a file where the folder would go
        QVERIFY(writable || blocker.open(QIODevice::WriteOnly));
        QProcess p;
        start(p, dir.path(), {});
        QVERIFY(p.waitForStarted());
        // Closing must find the window placed, as a user's signal would.
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(), 90000);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardError().contains("could not be saved"), !writable);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/config"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainWidth", "absent"),
                 QLatin1String(writable ? "6500" : "absent"));
    }
};

QTEST_GUILESS_MAIN(tst_App)
#include "tst_app.moc"

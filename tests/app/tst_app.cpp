// The real executable: information options, the start-up timing option, closing on signals.
#include "closedproxy.h"
#include "usersettings.h"

#include <QtTest>

#include <csignal>

class tst_App : public QObject {
    Q_OBJECT

    static QProcessEnvironment env(const QString &config)
    {
        auto e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        return e;
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

    void infoOptionsOpenNoWindow_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        QTest::newRow("help") << "--help" << QStringLiteral("Usage: velmaric");
        QTest::newRow("version") << "--version" << QStringLiteral("velmaric " VELMARIC_VERSION);
    }
    void infoOptionsOpenNoWindow()
    {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess p;
        auto e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("DISPLAY")); // would fail if it tried to open a window
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(e);
        p.start(QStringLiteral(VELMARIC_BIN), {option});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).startsWith(expected));
    }

    void exitAfterFirstPage()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (Xvfb)");
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setProcessEnvironment(env(dir.path() + "/config"));
        p.start(QStringLiteral(VELMARIC_BIN), {QStringLiteral("--exit-after-first-page")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().startsWith("VELMARIC_BENCH_LOADED "));
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
        p.setWorkingDirectory(dir.path());
        p.setProcessEnvironment(env(dir.path() + "/config"));
        p.start(QStringLiteral(VELMARIC_BIN), {});
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

// The real executable: information options, the start-up timing option, closing on signals.
#include "closedproxy.h"
#include "skip.h"
#include "usersettings.h"

#include <QtTest>

#include <csignal>

class tst_App : public QObject {
    Q_OBJECT

    static bool windowShown()
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
                      {"search", "--onlyvisible", "--name", "^Velmaric$"});
        return xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase() { keepPagesOffline(); }

    // The suite ends with status 0, by itself after an option or on a signal once its window
    // shows. A signal closes it as File > Exit does: the placement saved, or the failure told on
    // standard error.
    void endsCleanly_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("window");    // false: run without a display, which it must not need
        QTest::addColumn<int>("signal");     // 0: ends by itself
        QTest::addColumn<bool>("writable");  // false: the settings folder can't be made
        QTest::addColumn<QString>("output"); // how its standard output starts
        QTest::newRow("help") << "--help" << false << 0 << true
                              << QStringLiteral("Usage: velmaric");
        QTest::newRow("version") << "--version" << false << 0 << true
                                 << QStringLiteral("velmaric " VELMARIC_VERSION);
        QTest::newRow("exit after first page") << "--exit-after-first-page" << true << 0 << true
                                               << QStringLiteral("VELMARIC_BENCH_LOADED ");
        QTest::newRow("SIGTERM") << QString() << true << int(SIGTERM) << true << QString();
        QTest::newRow("SIGINT") << QString() << true << int(SIGINT) << true << QString();
        QTest::newRow("SIGTERM, settings unwritable")
            << QString() << true << int(SIGTERM) << false << QString();
    }
    void endsCleanly()
    {
        QFETCH(QString, option);
        QFETCH(bool, window);
        QFETCH(int, signal);
        QFETCH(bool, writable);
        if (window && qEnvironmentVariableIsEmpty("DISPLAY"))
            VELMARIC_SKIP("needs an X display (Xvfb)");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("config"));
        // A file where the settings folder would go.
        QVERIFY(writable || QFile(dir.path() + "/config/velmaric").open(QIODevice::WriteOnly));
        auto e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + "/config");
        if (!window) {
            e.remove(QStringLiteral("DISPLAY")); // would fail if it tried to open a window
            e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        QProcess p;
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(VELMARIC_BIN),
                option.isEmpty() ? QStringList() : QStringList{option});
        QVERIFY(p.waitForStarted());
        if (signal) {
            // Closing must find the window placed, as a user's signal would. (A deadline, not
            // QTRY: its time-out counts only the pauses between the slow xdotool polls.)
            // A start that fails ends the wait at once, with what the suite said.
            QVERIFY(QTest::qWaitFor([&] { return p.state() != QProcess::Running || windowShown(); },
                                    90000));
            QVERIFY2(p.state() == QProcess::Running, p.readAllStandardError().constData());
            ::kill(pid_t(p.processId()), signal);
        }
        QVERIFY(p.waitForFinished(signal ? 20000 : 60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QFETCH(QString, output);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).startsWith(output));
        QCOMPARE(p.readAllStandardError().contains("could not be saved"), !writable);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/config"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainWidth", "absent"),
                 QLatin1String(signal && writable ? "6500" : "absent"));
    }
};

QTEST_GUILESS_MAIN(tst_App)
#include "tst_app.moc"

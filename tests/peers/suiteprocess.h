#pragma once
// The real suite started as a user would, driven with xdotool, and ended by SIGTERM or
// File > Exit: for tests of what a person sees and of how promptly the suite quits.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

inline bool xdotool(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    const bool ok = p.waitForFinished(5000) && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return ok;
}

// Starts VELMARIC_BIN in folder (its working directory) with settings in configHome and waits
// for its main window, which it then focuses. Fails the test when the suite dies first.
#define START_SUITE(suite, folder, configHome) \
    do { \
        auto env_ = QProcessEnvironment::systemEnvironment(); \
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome); \
        (suite).setProcessEnvironment(env_); \
        (suite).setWorkingDirectory(folder); \
        (suite).start(QStringLiteral(VELMARIC_BIN), QStringList()); \
        QVERIFY((suite).waitForStarted()); \
        QByteArray id_; \
        QVERIFY(QTest::qWaitFor( \
            [&] { \
                return (suite).state() != QProcess::Running || \
                       xdotool({"search", "--onlyvisible", "--name", "^Velmaric$"}, &id_); \
            }, \
            90000)); \
        QVERIFY2((suite).state() == QProcess::Running, \
                 (suite).readAllStandardError().constData()); \
        QVERIFY(xdotool({"windowfocus", "--sync", QString::fromLatin1(id_.split('\n').first())})); \
    } while (false)

// Ends the suite by SIGTERM (signal) or File > Exit and checks that it ends within 2 s, normally.
#define END_SUITE_AT_ONCE(suite, signal) \
    do { \
        QElapsedTimer timer_; \
        timer_.start(); \
        if (signal) \
            ::kill(pid_t((suite).processId()), SIGTERM); \
        else \
            QVERIFY(xdotool({"key", "--delay", "100", "alt+f", "x"})); \
        QVERIFY((suite).waitForFinished(10000)); \
        QVERIFY2(timer_.elapsed() < 2000, QByteArray::number(timer_.elapsed()) + " ms"); \
        QCOMPARE((suite).exitStatus(), QProcess::NormalExit); \
        QCOMPARE((suite).exitCode(), 0); \
    } while (false)

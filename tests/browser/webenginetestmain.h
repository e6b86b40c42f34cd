#pragma once
#include "processenv.h"

#include <QApplication>
#include <QByteArray>
#include <QTest>

// The test main of every browser test: the process environment the suite itself uses, plus a
// dead proxy on a closed loopback port for every address but loopback, so that no page of a
// test (the default home page "example.com" included) can reach DNS or the outside network.
inline void prepareWebEngineTestProcess(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --proxy-server=http://127.0.0.1:9";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    setupProcessEnvironment(argc, argv);
}

#define VELMARIC_WEBENGINE_TEST_MAIN(TestClass)                                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        prepareWebEngineTestProcess(argc, argv);                                                   \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

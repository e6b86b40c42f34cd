#pragma once
#include "processenv.h"

#include <QApplication>
#include <QTest>

// Sends every address but loopback to a closed proxy port on loopback, so no page (the default
// home page included) reaches DNS or the network, whether or not the test environment set it
// already. Call before QApplication exists; processes the test starts inherit it.
inline void keepPagesOffline()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --proxy-server=http://127.0.0.1:9");
}

// main() of a test that opens windows: pages kept offline, the process prepared as the suite
// prepares itself.
#define VELMARIC_WINDOW_TEST_MAIN(TestClass) \
    int main(int argc, char **argv) \
    { \
        keepPagesOffline(); \
        setupProcessEnvironment(argc, argv); \
        QApplication app(argc, argv); \
        TestClass test; \
        return QTest::qExec(&test, argc, argv); \
    }

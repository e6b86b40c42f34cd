#pragma once
#include <QByteArray>

// Sends every address but loopback to a closed proxy port on loopback, so no page (the default
// home page included) reaches DNS or the network, whether or not the test environment set it
// already. Call before QApplication exists; processes the test starts inherit it.
inline void keepPagesOffline()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --proxy-server=http://127.0.0.1:9");
}

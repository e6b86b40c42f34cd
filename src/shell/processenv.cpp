#include "processenv.h"

#include <QByteArray>
#include <QFile>
#include <cstdlib>
#include <unistd.h>

namespace {
bool envSet(const char *name) { return !qgetenv(name).isEmpty(); }

// A usable GPU needs a render node and a display that is not the virtual frame buffer.
bool gpuUsable()
{
    if (!QFile::exists(QStringLiteral("/dev/dri/renderD128")))
        return false;
    return qgetenv("VELMARIC_FORCE_SOFTWARE").isEmpty();
}

void appendChromiumFlag(const QByteArray &flag)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains(flag))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    flags += flag;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}
} // namespace

void setupProcessEnvironment(int &, char **)
{
    // Chromium's sandbox cannot run as root; everyone else keeps it.
    if (geteuid() == 0 && !envSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!gpuUsable())
        appendChromiumFlag("--disable-gpu");
    // GStreamer's MP3 path crashes on Debian 12; FFmpeg plays it and reports end of media.
    if (!envSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

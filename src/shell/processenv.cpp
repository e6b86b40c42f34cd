#include "processenv.h"

#include <QByteArray>
#include <QFile>
#include <cstdlib>
#include <ctime>
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
}

long long msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may itself hold blanks, start past the last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr int StartTimeField = 22 - 3;
    if (fields.size() <= StartTimeField)
        return -1;
    const double startSeconds = fields[StartTimeField].toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (long long)((now.tv_sec + now.tv_nsec / 1e9 - startSeconds) * 1000.0);
}

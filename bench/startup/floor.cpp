// The floor of the start-up benchmark: a window with nothing but a QWebEngineView that loads
// one page, prints the time since process start when the page has loaded, and quits.
#include "processenv.h"

#include <QApplication>
#include <QFile>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {
// Same measure as the suite's own report: since the kernel started the process.
long long msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr int StartTimeField = 22 - 3;
    if (fields.size() <= StartTimeField)
        return -1;
    const double startSeconds = fields[StartTimeField].toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (long long)((now.tv_sec + now.tv_nsec / 1e9 - startSeconds) * 1000.0);
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmaric-bench-floor URL\n");
        return 2;
    }
    const QUrl url = QUrl::fromUserInput(QString::fromLocal8Bit(argv[1]));
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [](bool) {
        std::printf("VELMARIC_BENCH_LOADED %lld\n", msSinceProcessStart());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    view.resize(800, 600);
    view.show();
    view.setUrl(url);
    return app.exec();
}

// The floor of the start-up benchmark: a window with nothing but a QWebEngineView that loads
// one page, prints the time since process start when the page has loaded, and quits.
#include "processenv.h"

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

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

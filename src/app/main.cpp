#include "frmbrowse.h"
#include "frmmain.h"
#include "processenv.h"
#include "tools.h"
#include "toolwindow.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT close the suite as File > Exit does, so the placement is saved.
void closeOnSignals(frmMain *window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char c;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

bool handleInfoOptions(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf(
                "Usage: velmaric [Qt options]\n\n"
                "Velmaric: a web browser with network and media tools in one window.\n"
                "Reads norvo.ini from the working directory; per-user settings live in\n"
                "$XDG_CONFIG_HOME/velmaric (default ~/.config/velmaric).\n\n"
                "  -h, --help     show this help and exit\n"
                "  --version      show the version and exit\n"
                "  --exit-after-first-page\n"
                "                 print \"VELMARIC_BENCH_LOADED <ms>\" when the first page\n"
                "                 has loaded (milliseconds since the process started)\n"
                "                 and exit; for start-up timing\n");
            return true;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("velmaric %s\n", VELMARIC_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (handleInfoOptions(argc, argv))
        return 0;
    setupProcessEnvironment(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmaric"));
    QApplication::setApplicationVersion(QStringLiteral(VELMARIC_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmaric"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velmaric/velmaric.svg")));

    const QStringList args = QCoreApplication::arguments();
    frmBrowse::setExitAfterFirstPage(args.contains(QStringLiteral("--exit-after-first-page")));

    frmMain window;
    registerTools(window.tools());
    closeOnSignals(&window);
    // The session manager's end of session closes the suite the same way.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &) { window.close(); });

    window.MDIForm_Load();
    window.show();
    return app.exec();
}

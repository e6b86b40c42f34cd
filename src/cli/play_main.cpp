// velmaric-play: the companion of `velmaric-cli play`. Plays the files in order through the
// player's media engine, with no window, printing "Now Playing: " and the file name for each.
// Exit status: 0 all played, 1 a file could not be played, 2 usage error.
#include "mediaengine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMediaPlayer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace {

void usage(FILE *out)
{
    std::fprintf(out, "Usage: velmaric-cli play FILE...\n"
                      "Plays the MP3 files in order, printing \"Now Playing: \" and each name.\n");
}

// Qt 6.4's FFmpeg backend leaves FFmpeg's log at its default level, which writes decoder notes
// (the encoder delay of every LAME file, for one) to stderr, and prints a debug line of its own.
// Keep stderr for real errors.
void quietMediaBackend()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // The backend, and with it libavutil, loads with the first player.
    delete new QMediaPlayer;
    void *avutil = dlopen("libavutil.so.57", RTLD_LAZY | RTLD_NOLOAD);
    if (!avutil)
        return;
    if (auto setLevel = reinterpret_cast<void (*)(int)>(dlsym(avutil, "av_log_set_level")))
        setLevel(16); // AV_LOG_ERROR
    dlclose(avutil);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
        }
    }
    // As the suite does: Qt 6.4's GStreamer backend crashes on MP3 here.
    setenv("QT_MEDIA_BACKEND", "ffmpeg", 0);
    QCoreApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    // With no sound server every file would fail for the same reason: say it once.
    if (const QString problem = MediaEngine::outputProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "velmaric-cli: %s\n", qPrintable(problem));
        return 1;
    }
    quietMediaBackend();

    MediaEngine engine;
    qsizetype current = -1;
    bool failed = false;
    auto playNext = [&] {
        if (++current == files.size()) {
            app.exit(failed ? 1 : 0);
            return;
        }
        std::printf("Now Playing: %s\n", qPrintable(QFileInfo(files[current]).fileName()));
        std::fflush(stdout);
        engine.setFileName(files[current]);
    };
    // Queued: a file that fails at once must not recurse into the next one.
    QObject::connect(
        &engine, &MediaEngine::endOfStream, &app,
        [&](int result) {
            if (result != 0) {
                failed = true;
                std::fprintf(stderr, "velmaric-cli: %s: %s\n", qPrintable(files[current]),
                             qPrintable(engine.errorText()));
            }
            playNext();
        },
        Qt::QueuedConnection);
    QMetaObject::invokeMethod(&app, playNext, Qt::QueuedConnection);
    const int status = app.exec();
    // Qt 6.4 stops its PulseAudio connection from an exit handler, racing that connection's own
    // thread, and now and then dies there of a segfault in place of this status. Everything is
    // said by now: leave without the exit handlers.
    std::fflush(stdout);
    std::_Exit(status);
}

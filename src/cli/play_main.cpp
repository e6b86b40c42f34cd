// velmaric-play: the companion of `velmaric-cli play`. Plays the files in order through the
// player's media engine, with no window, printing "Now Playing: " and the file name for each;
// one file follows the other with no gap where their sample formats agree.
// Exit status: 0 all played, 1 a file could not be played, 2 usage error.
#include "mediaengine.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <malloc.h>

namespace {

void usage(FILE *out)
{
    std::fprintf(out, "Usage: velmaric-cli play FILE...\n"
                      "Plays the MP3 files in order, printing \"Now Playing: \" and each name.\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    // No options beyond help: a file whose name starts with "-" follows "--".
    for (int i = 1; i < argc && std::strcmp(argv[i], "--"); ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
        }
        if (argv[i][0] == '-' && argv[i][1]) {
            std::fprintf(stderr, "velmaric-cli: unknown option '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    // Its few threads (sound server, file work) allocate little: one heap serves them all
    // rather than a heap of its own for each.
    mallopt(M_ARENA_MAX, 1);
    // Nothing here needs the GLib main loop Qt otherwise drives its events with.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    files.removeOne(QStringLiteral("--"));
    if (files.isEmpty()) {
        usage(stderr);
        return 2;
    }
    MediaEngine engine;
    // With no sound server every file would fail for the same reason: say it once.
    if (const QString problem = engine.openOutput(); !problem.isEmpty()) {
        std::fprintf(stderr, "velmaric-cli: %s\n", qPrintable(problem));
        return 1;
    }

    qsizetype current = -1;
    bool failed = false;
    engine.setUpcoming([&](int ahead) { return files.value(current + 1 + ahead); });
    auto playNext = [&] {
        if (++current == files.size()) {
            app.exit(failed ? 1 : 0);
            return;
        }
        std::printf("Now Playing: %s\n", qPrintable(QFileInfo(files[current]).fileName()));
        std::fflush(stdout);
        engine.setFileName(files[current]);
    };
    // Direct: the next file is assigned while the end is told, so one already following
    // seamlessly is taken over rather than started again.
    QObject::connect(&engine, &MediaEngine::endOfStream, &app, [&](int result) {
        if (result != 0) {
            failed = true;
            std::fprintf(stderr, "velmaric-cli: %s: %s\n", qPrintable(files[current]),
                         qPrintable(engine.errorText()));
        }
        playNext();
    });
    QMetaObject::invokeMethod(&app, playNext, Qt::QueuedConnection);
    return app.exec();
}

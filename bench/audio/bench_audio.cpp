// Audio benchmark, run by hand inside scripts/test-env.sh so that both players write to the
// same PulseAudio null sink; ours (velmaric-cli play) beside mpg123 -q -o pulse, one after the
// other in one run:
//   (a) CPU time (user + system) and peak memory playing a 60 s MP3; the steady share is the
//       60 s figure less a 2 s file's (start-up and shut-down)
//   (b) start of the process to its first sound at the sink's monitor
//   (c) two files continuing one sweep: samples lost (-) or added (+) at the boundary, and the
//       longest silence there
//   (d) the engine's position updates while playing (ours only)
// Both play to a null sink of the benchmark's own.
// The sink's monitor is recorded only for (b) and (c): a recording at low latency makes the
// sink ask every stream for sound in small pieces, which multiplies any player's CPU time.
#include "mediaengine.h"
#include "../../tests/peers/sinkrecorder.h"
#include "../../tests/peers/tonemp3.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

struct Usage {
    double cpu = -1; // s
    double peakMiB = -1;
};

// The child's own peak memory so far. Its rusage can't tell: a child counts the memory of the
// process it was spawned from until it executes the player.
double peakMiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return -1;
}

// A whole process's CPU time and peak memory, its output discarded.
Usage usageOf(const QStringList &command)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : command)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return {};
    int status = 0;
    rusage usage{};
    double peak = -1;
    pid_t done = 0;
    // Sampled until the end; the high-water mark only grows, so the last look is the peak
    // but for the last few milliseconds.
    while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0) {
        peak = std::max(peak, peakMiB(pid));
        usleep(20'000);
    }
    if (done != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), peak};
}

// Runs a player to its end with the event loop turning, so the recorder keeps time; returns
// when it was started, on the recorder's clock.
double runPlayer(SinkRecorder &recorder, const QStringList &command)
{
    QProcess player;
    player.setStandardOutputFile(QProcess::nullDevice());
    player.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&player, &QProcess::finished, &loop, &QEventLoop::quit);
    const double started = recorder.now();
    player.start(command.first(), command.mid(1));
    if (player.waitForStarted())
        loop.exec();
    recorder.waitForSilence(100);
    return started;
}

// (b) for one player: the median of `runs` starts.
double toFirstSound(SinkRecorder &recorder, const QStringList &command, int runs)
{
    std::vector<double> delays;
    for (int i = 0; i < runs; ++i) {
        const qsizetype from = qsizetype(recorder.samples().size());
        const double started = runPlayer(recorder, command);
        if (const qsizetype first = SinkRecorder::firstSound(recorder.samples(), from); first >= 0)
            delays.push_back(recorder.heardAt(first) - started);
    }
    return median(delays);
}

struct Boundary {
    qsizetype moved = 0;   // samples; 0: none lost or added
    double silenceMs = -1; // the longest silence in the whole run
};

// (c) for one player: where the second file's sound is against the continuous sweep.
Boundary atBoundary(SinkRecorder &recorder, const QStringList &command,
                    const std::vector<qint16> &ref)
{
    const qsizetype from = qsizetype(recorder.samples().size());
    runPlayer(recorder, command);
    const std::vector<qint16> &rec = recorder.samples();
    const qsizetype start = SinkRecorder::firstSound(rec, from);
    if (start < 0)
        return {};
    const qsizetype offset = start - SinkRecorder::match(rec, start, ref, 0, 2000);
    const qsizetype after = qsizetype(ref.size()) / 2 + 2205;
    return {SinkRecorder::match(rec, after + offset, ref, after, 4000) - after,
            SinkRecorder::longestSilence(rec, start, offset + qsizetype(ref.size()) - 100) *
                1000.0 / SinkRecorder::Rate};
}

// (d): the intervals between position reports while a 3 s file plays.
std::pair<double, double> positionIntervals(const QString &file)
{
    MediaEngine engine;
    QEventLoop loop;
    QElapsedTimer clock;
    std::vector<double> gaps;
    double last = -1;
    QObject::connect(&engine, &MediaEngine::positionChanged, &loop, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        if (last >= 0 && engine.playbackState() == MediaEngine::State::Playing)
            gaps.push_back(now - last);
        last = now;
    });
    QObject::connect(&engine, &MediaEngine::endOfStream, &loop, &QEventLoop::quit);
    clock.start();
    engine.setFileName(file);
    loop.exec();
    return {median(gaps), gaps.empty() ? -1 : *std::max_element(gaps.begin(), gaps.end())};
}

constexpr double NoPeer = -1e9;

void row(const char *name, double ours, double peer, const char *goal, bool met)
{
    if (peer != NoPeer)
        std::printf("%-44s %9.3f %9.3f %6.2f   %-8s %s\n", name, ours, peer,
                    peer != 0 ? ours / peer : 1.0, goal, met ? "met" : "MISSED");
    else
        std::printf("%-44s %9.3f %9s %6s   %-8s %s\n", name, ours, "-", "", goal,
                    met ? "met" : "MISSED");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 5;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else {
            std::fprintf(stderr, "Usage: bench_audio [--runs N]   (inside scripts/test-env.sh)\n");
            return 2;
        }
    }
    if (const QString problem = MediaEngine::outputProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "bench_audio: %s\n", qPrintable(problem));
        return 1;
    }
    for (const char *peer : {"mpg123", "parec", "lame"})
        if (QStandardPaths::findExecutable(peer).isEmpty()) {
            std::fprintf(stderr, "bench_audio: %s is missing (see scripts/packages.txt)\n", peer);
            return 1;
        }
    // A sink of the benchmark's own, which both players use and nothing else plays to.
    PrivateSink sink;
    if (!sink.error().isEmpty()) {
        std::fprintf(stderr, "bench_audio: %s\n", qPrintable(sink.error()));
        return 1;
    }
    ToneMp3 mp3;
    const QString longFile = mp3.make("long.mp3", 60.0, {"-b", "128"});
    const QString shortFile = mp3.make("short.mp3", 2.0, {"-b", "128"});
    const QString a = mp3.makeSweep("a.mp3", 1.0), b = mp3.makeSweep("b.mp3", 1.0, 44100);
    const QString seek = mp3.makeSweep("three.mp3", 3.0);
    if (!mp3.error().isEmpty()) {
        std::fprintf(stderr, "bench_audio: %s\n", qPrintable(mp3.error()));
        return 1;
    }
    const QString cli = QStringLiteral(VELMARIC_CLI);
    auto ours = [&](const QStringList &files) { return QStringList{cli, "play"} + files; };
    auto peer = [](const QStringList &files) {
        return QStringList{"mpg123", "-q", "-o", "pulse"} + files;
    };

    std::printf(
        "peer: mpg123 -q -o pulse FILE..., run the same way as velmaric-cli play FILE...\n");
    std::printf("%-44s %9s %9s %6s   %s\n", "case", "ours", "mpg123", "ratio", "goal");
    const Usage oursLong = usageOf(ours({longFile})), peerLong = usageOf(peer({longFile}));
    const Usage oursShort = usageOf(ours({shortFile})), peerShort = usageOf(peer({shortFile}));
    row("(a) CPU playing 60 s, s", oursLong.cpu, peerLong.cpu, "<= 1.5x",
        oursLong.cpu <= 1.5 * peerLong.cpu);
    const double oursSteady = oursLong.cpu - oursShort.cpu,
                 peerSteady = peerLong.cpu - peerShort.cpu;
    row("    of it steady playback (60 s less 2 s), s", oursSteady, peerSteady, "<= 1.2x",
        oursSteady <= 1.2 * peerSteady);
    row("    start-up and shut-down (2 s file), s", oursShort.cpu, peerShort.cpu, "", true);
    row("(a) peak memory, MiB", oursLong.peakMiB, peerLong.peakMiB, "<= 2x",
        oursLong.peakMiB <= 2 * peerLong.peakMiB);

    SinkRecorder recorder;
    if (const QString why = recorder.start(sink.monitor()); !why.isEmpty()) {
        std::fprintf(stderr, "bench_audio: %s\n", qPrintable(why));
        return 1;
    }
    double oursFirst = 0, peerFirst = 0;
    for (int i = 0; i < runs; ++i) { // alternated, so that neither side meets a warmer server
        oursFirst += toFirstSound(recorder, ours({a}), 1) / runs;
        peerFirst += toFirstSound(recorder, peer({a}), 1) / runs;
    }
    row("(b) start to first sound at the sink, ms", oursFirst, peerFirst, "<= 1.0x",
        oursFirst <= peerFirst);
    const std::vector<qint16> ref = SinkRecorder::samplesOf(ToneMp3::decode(a) +
                                                            ToneMp3::decode(b));
    const Boundary oursGap = atBoundary(recorder, ours({a, b}), ref),
                   peerGap = atBoundary(recorder, peer({a, b}), ref);
    row("(c) samples lost (-) or added (+) at a boundary", double(oursGap.moved),
        double(peerGap.moved), "0", oursGap.moved == 0);
    row("    longest silence in the two files, ms", oursGap.silenceMs, peerGap.silenceMs, "", true);
    const auto [medianGap, maxGap] = positionIntervals(seek);
    row("(d) position update interval, median ms", medianGap, NoPeer, "<= 50", medianGap <= 50);
    row("    the longest, ms", maxGap, NoPeer, "<= 50", maxGap <= 50);
    return 0;
}

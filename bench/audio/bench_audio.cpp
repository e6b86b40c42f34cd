// Audio benchmarks, run by hand inside scripts/test-env.sh, so that both players write to the
// same PulseAudio null sink, whose monitor tells when sound really comes out; ours beside mpg123:
//   (a) CPU time (user + system) playing a 60 s MP3: velmaric-cli play vs mpg123 -q
//   (b) play to first audio: assigning a file (mpg123 -R: LOAD) to its sound at the sink;
//   (b') the same to the position advancing (MediaEngine's position; mpg123's first @F frame)
//   (c) end of one entry to the start of the next: the silence between two files at the sink,
//       the next file assigned at end of stream as the playlist does (mpg123: at @P 0), with
//       how much of each 1 s file was heard
#include "mediaengine.h"
#include "../../tests/peers/tonemp3.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr double sampleRate = 44100;
QElapsedTimer benchClock; // one time line for the players and the monitor

double nowMs() { return benchClock.nsecsElapsed() / 1e6; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Listens to the default sink's monitor and notes every onset of sound: when it reached the
// sink, on benchClock, and how long the silence before it lasted. The test tone never stays
// near zero for long; a gap is 5 ms of silence or more.
class SinkMonitor {
public:
    struct Onset {
        double at;
        double silenceBefore; // ms
        double heard = 0;     // ms from this onset to the last sound before the next gap
    };

    bool start()
    {
        QObject::connect(&m_parec, &QProcess::readyReadStandardOutput, [this] { read(); });
        m_parec.start(QStringLiteral("parec"),
                      {"-d", "@DEFAULT_MONITOR@", "--raw", "--format=s16le", "--rate=44100",
                       "--channels=1", "--latency-msec=5"});
        return m_parec.waitForStarted() && m_parec.waitForReadyRead(10000);
    }

    ~SinkMonitor()
    {
        m_parec.kill();
        m_parec.waitForFinished();
    }

    // Waits until the monitor has delivered `ms` of silence after everything played so far.
    void drain(double ms)
    {
        const double since = nowMs();
        const QDeadlineTimer deadline(5000);
        while ((m_lastArrival < since + ms || m_silent < ms * sampleRate / 1000) &&
               !deadline.hasExpired())
            m_parec.waitForReadyRead(100);
    }

    // Onsets that reached the sink after `from` (benchClock ms).
    std::vector<Onset> onsetsAfter(double from) const
    {
        std::vector<Onset> after;
        std::copy_if(m_onsets.begin(), m_onsets.end(), std::back_inserter(after),
                     [from](const Onset &o) { return o.at >= from; });
        return after;
    }

private:
    void read()
    {
        m_lastArrival = nowMs();
        m_pending += m_parec.readAllStandardOutput();
        const qsizetype samples = m_pending.size() / 2;
        const auto *data = reinterpret_cast<const qint16 *>(m_pending.constData());
        for (qsizetype i = 0; i < samples; ++i) {
            if (std::abs(data[i]) < 300) {
                ++m_silent;
                continue;
            }
            if (m_silent >= minGapSamples) {
                m_onsets.push_back({m_lastArrival - (samples - i) * 1000 / sampleRate,
                                    m_silent * 1000 / sampleRate});
                m_onsetIndex = m_index + i;
            }
            if (!m_onsets.empty())
                m_onsets.back().heard = (m_index + i + 1 - m_onsetIndex) * 1000 / sampleRate;
            m_silent = 0;
        }
        m_index += samples;
        m_pending.remove(0, samples * 2);
    }

    static constexpr qint64 minGapSamples = qint64(sampleRate * 0.005);
    QProcess m_parec;
    QByteArray m_pending;
    std::vector<Onset> m_onsets;
    qint64 m_silent = 0;
    qint64 m_index = 0;      // samples read so far
    qint64 m_onsetIndex = 0; // the sample of the last onset
    double m_lastArrival = 0;
};

struct Run {
    double assigned = -1;  // the first file assigned, on benchClock
    double advancing = -1; // its position first advancing, on benchClock
};

// Plays the files one after the other through a new engine, the next assigned at end of
// stream, as the playlist does.
Run oursChain(const QStringList &files)
{
    Run run;
    MediaEngine engine;
    QEventLoop loop;
    qsizetype current = 0;
    QObject::connect(&engine, &MediaEngine::positionChanged, &loop, [&](qint64 ms) {
        if (current == 0 && ms > 0 && run.advancing < 0)
            run.advancing = nowMs();
    });
    QObject::connect(&engine, &MediaEngine::endOfStream, &loop, [&](int result) {
        if (result != 0 || ++current == files.size())
            return loop.quit();
        engine.setFileName(files[current]);
    });
    QTimer::singleShot(0, &loop, [&] {
        run.assigned = nowMs();
        engine.setFileName(files[0]);
    });
    loop.exec();
    return run;
}

// The same chain through a new mpg123 in remote-control mode, once it says it is ready.
Run peerChain(const QStringList &files)
{
    Run run;
    QProcess mpg123;
    QEventLoop loop;
    qsizetype current = 0;
    QObject::connect(&mpg123, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (mpg123.canReadLine()) {
            const QByteArray line = mpg123.readLine().trimmed();
            if (line.startsWith("@R ")) {
                run.assigned = nowMs();
                mpg123.write("LOAD " + files[0].toLocal8Bit() + "\n");
            } else if (line.startsWith("@F ") && current == 0 && run.advancing < 0 &&
                       line.split(' ').value(1).toInt() >= 1) {
                run.advancing = nowMs();
            } else if (line == "@P 0") {
                if (++current == files.size())
                    mpg123.write("QUIT\n");
                else
                    mpg123.write("LOAD " + files[current].toLocal8Bit() + "\n");
            }
        }
    });
    QObject::connect(&mpg123, &QProcess::finished, &loop, &QEventLoop::quit);
    mpg123.start(QStringLiteral("mpg123"), {"-R", "-o", "pulse"});
    if (mpg123.waitForStarted())
        loop.exec();
    return run;
}

struct Figures {
    std::vector<double> toSound, toAdvancing, gaps;
    std::vector<double> heard; // ms of sound per entry in the chain
};

template<typename Chain>
Figures measure(Chain chain, SinkMonitor &monitor, const QStringList &files)
{
    Figures f;
    for (const QString &file : files) {
        const Run run = chain(QStringList{file});
        monitor.drain(50);
        if (const auto onsets = monitor.onsetsAfter(run.assigned); !onsets.empty())
            f.toSound.push_back(onsets.front().at - run.assigned);
        if (run.advancing >= 0)
            f.toAdvancing.push_back(run.advancing - run.assigned);
    }
    const Run run = chain(files);
    monitor.drain(50);
    const auto onsets = monitor.onsetsAfter(run.assigned);
    if (onsets.empty())
        return f;
    double heard = 0;
    for (size_t i = 0; i < onsets.size(); ++i) {
        if (i > 0)
            f.gaps.push_back(onsets[i].silenceBefore);
        heard += onsets[i].heard;
    }
    // Entries that follow with less than a gap's silence sound as one: their gap is 0.
    f.gaps.resize(std::max<size_t>(f.gaps.size(), size_t(files.size()) - 1), 0.0);
    f.heard.push_back(heard / files.size());
    return f;
}

// CPU seconds a whole process used, its output discarded; -1 on failure.
double cpuSeconds(const QStringList &command)
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
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void row(const char *name, double ours, double peer, double goal, bool ratioGoal)
{
    const double ratio = peer > 0 ? ours / peer : 0;
    const bool met = ours >= 0 && (ratioGoal ? ratio <= goal : ours <= goal);
    std::printf("%-46s %8.1f %8.1f %6.2f   <= %g%s %s\n", name, ours, peer, ratio, goal,
                ratioGoal ? "x" : " ms", met ? "met" : "MISSED");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchClock.start();
    int runs = 5;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(2, args[++i].toInt());
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
    ToneMp3 mp3;
    QStringList chain;
    for (int i = 0; i < runs; ++i)
        chain << mp3.make(QString("short%1.mp3").arg(i), 1.0, {"-b", "128"});
    const QString longFile = mp3.make("long.mp3", 60.0, {"-b", "128"});
    SinkMonitor monitor;
    if (!mp3.error().isEmpty() || !monitor.start()) {
        std::fprintf(stderr, "bench_audio: %s\n",
                     mp3.error().isEmpty() ? "parec gives no sound from the sink's monitor"
                                           : qPrintable(mp3.error()));
        return 1;
    }

    std::printf("%-46s %8s %8s %6s   %s\n", "case (medians)", "ours", "mpg123", "ratio", "goal");
    const Figures ours = measure(oursChain, monitor, chain),
                  peer = measure(peerChain, monitor, chain);
    row("(b) play to first audio at the sink, ms", median(ours.toSound), median(peer.toSound), 100,
        false);
    row("(b') play to the position advancing, ms", median(ours.toAdvancing),
        median(peer.toAdvancing), 100, false);
    row("(c) silence between two entries, ms", median(ours.gaps), median(peer.gaps), 50, false);
    // Not a goal: a check that the gap is not won by cutting the end of each file.
    std::printf("%-46s %8.1f %8.1f\n", "    sound heard per 1 s entry, ms", median(ours.heard),
                median(peer.heard));
    const double cpuOurs = cpuSeconds({VELMARIC_CLI, "play", longFile});
    const double cpuPeer = cpuSeconds({"mpg123", "-q", "-o", "pulse", longFile});
    row("(a) CPU playing 60 s, s (velmaric-cli play)", cpuOurs, cpuPeer, 1.5, true);
    return 0;
}

#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <vector>

// A null sink of this process's own on the running sound server, made the default for every
// stream this process (and its children) opens, so that tests playing side by side never hear
// each other. Removed with the fixture.
class PrivateSink {
public:
    PrivateSink()
    {
        const QString name = QStringLiteral("velmaric_%1").arg(QCoreApplication::applicationPid());
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
                    {"load-module", "module-null-sink", "sink_name=" + name});
        if (!pactl.waitForFinished(10000) || pactl.exitCode() != 0) {
            m_error = "pactl could not add a null sink: " +
                      QString::fromLocal8Bit(pactl.readAllStandardError()).trimmed();
            return;
        }
        m_module = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
        m_name = name;
        qputenv("PULSE_SINK", name.toLatin1());
    }
    ~PrivateSink()
    {
        if (!m_module.isEmpty())
            QProcess::execute(QStringLiteral("pactl"), {"unload-module", m_module});
    }
    // Empty when the sink is there; else why not.
    QString error() const { return m_error; }
    QString monitor() const { return m_name + QStringLiteral(".monitor"); }

private:
    QString m_name, m_module, m_error;
};

// What a sink plays, as its monitor hears it: 44.1 kHz mono 16-bit samples recorded by parec
// from start() on. The search helpers compare a recording with decoded samples.
class SinkRecorder {
public:
    SinkRecorder() { m_clock.start(); }
    // Milliseconds on the recorder's clock; heardAt() tells when a sample reached the monitor,
    // as long as the event loop runs while recording.
    double now() const { return m_clock.nsecsElapsed() / 1e6; }
    double heardAt(qsizetype index) const
    {
        for (const auto &[end, at] : m_arrivals)
            if (index < end)
                return at - double(end - 1 - index) * 1000 / Rate;
        return -1;
    }

    static constexpr int Rate = 44100;
    static constexpr int Quiet = 300; // below this a sample counts as silence

    ~SinkRecorder()
    {
        m_parec.kill();
        m_parec.waitForFinished();
    }

    // Empty once samples arrive; else why not.
    QString start(const QString &monitor = QStringLiteral("@DEFAULT_MONITOR@"))
    {
        if (QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
            return QStringLiteral("parec is not installed");
        m_parec.start(QStringLiteral("parec"),
                      {"-d", monitor, "--raw", "--format=s16le", "--rate=44100", "--channels=1",
                       "--latency-msec=5"});
        if (!m_parec.waitForStarted() || !m_parec.waitForReadyRead(10000))
            return QStringLiteral("parec gives no sound from the sink's monitor");
        QObject::connect(&m_parec, &QProcess::readyReadStandardOutput, [this] { samples(); });
        return {};
    }

    // Everything recorded so far.
    const std::vector<qint16> &samples()
    {
        m_pending += m_parec.readAllStandardOutput();
        const auto *data = reinterpret_cast<const qint16 *>(m_pending.constData());
        const qsizetype count = m_pending.size() / 2;
        m_samples.insert(m_samples.end(), data, data + count);
        m_pending.remove(0, count * 2);
        if (count > 0)
            m_arrivals.emplace_back(qsizetype(m_samples.size()), now());
        return m_samples;
    }

    // Records until the last `ms` are silent (or `timeoutMs` has passed); whether they are.
    bool waitForSilence(int ms, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        const size_t quiet = size_t(ms) * Rate / 1000;
        while (!deadline.hasExpired()) {
            const std::vector<qint16> &s = samples();
            if (s.size() >= quiet &&
                std::all_of(s.end() - quiet, s.end(), [](qint16 v) { return std::abs(v) < Quiet; }))
                return true;
            m_parec.waitForReadyRead(100);
        }
        return false;
    }

    // The first sample at `from` or later that is not silence; -1 for none.
    static qsizetype firstSound(const std::vector<qint16> &s, qsizetype from = 0)
    {
        for (qsizetype i = std::max<qsizetype>(0, from); i < qsizetype(s.size()); ++i)
            if (std::abs(s[i]) >= Quiet)
                return i;
        return -1;
    }

    // The longest run of silent samples in [from, to).
    static qsizetype longestSilence(const std::vector<qint16> &s, qsizetype from, qsizetype to)
    {
        qsizetype longest = 0, run = 0;
        for (qsizetype i = std::max<qsizetype>(0, from); i < std::min<qsizetype>(to, s.size());
             ++i) {
            run = std::abs(s[i]) < Quiet ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return longest;
    }

    // Where in `ref` the `window` samples of `rec` from `at` lie, searched within `radius` of
    // `around`: the place of least difference.
    static qsizetype match(const std::vector<qint16> &rec, qsizetype at,
                           const std::vector<qint16> &ref, qsizetype around, qsizetype radius,
                           qsizetype window = 1024)
    {
        qsizetype best = -1;
        double bestDiff = 0;
        for (qsizetype p = std::max<qsizetype>(0, around - radius); p <= around + radius; ++p) {
            if (p + window > qsizetype(ref.size()) || at + window > qsizetype(rec.size()))
                break;
            double diff = 0;
            for (qsizetype k = 0; k < window; ++k)
                diff += std::abs(rec[at + k] - ref[p + k]);
            if (best < 0 || diff < bestDiff) {
                best = p;
                bestDiff = diff;
            }
        }
        return best;
    }

    static std::vector<qint16> samplesOf(const QByteArray &pcm)
    {
        const auto *data = reinterpret_cast<const qint16 *>(pcm.constData());
        return {data, data + pcm.size() / 2};
    }

private:
    QProcess m_parec;
    QByteArray m_pending;
    std::vector<qint16> m_samples;
    QElapsedTimer m_clock;
    std::vector<std::pair<qsizetype, double>> m_arrivals; // samples so far, when they came
};

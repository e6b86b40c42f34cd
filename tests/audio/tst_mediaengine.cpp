#include "mediaengine.h"
#include "skip.h"
#include "../peers/sinkrecorder.h"
#include "../peers/tonemp3.h"

#include <QtTest>

// The engine against what really comes out of the test environment's sound server (its null
// sink's monitor), compared sample by sample with what libmpg123's own player decodes.
class tst_MediaEngine : public QObject {
    Q_OBJECT

    ToneMp3 m_mp3;
    std::unique_ptr<PrivateSink> m_sink;
    SinkRecorder m_recorder;

    static std::vector<qint16> decoded(const QStringList &paths)
    {
        QByteArray pcm;
        for (const QString &path : paths)
            pcm += ToneMp3::decode(path);
        return SinkRecorder::samplesOf(pcm);
    }

    // Plays `a`, then `b` as the playlist does (at the end: rewind, then assign the next),
    // noting the files assigned and the ends told; where the recording stood at the start.
    qsizetype playPair(MediaEngine &engine, const QString &a, const QString &b, QStringList &events)
    {
        engine.setUpcoming([&engine, a, b](int ahead) {
            return ahead == 0 && engine.fileName() == a ? b : QString();
        });
        connect(&engine, &MediaEngine::fileNameChanged, this,
                [&events](const QString &f) { events << QFileInfo(f).fileName(); });
        connect(&engine, &MediaEngine::endOfStream, this, [&engine, &events, a, b](int result) {
            events << "end " + QString::number(result) + " at " +
                          QString::number(engine.position());
            engine.setCurrentPosition(0);
            if (engine.fileName() == a)
                engine.setFileName(b);
        });
        const qsizetype from = qsizetype(m_recorder.samples().size());
        engine.setFileName(a);
        return from;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString problem = MediaEngine::outputProblem(); !problem.isEmpty())
            VELMARIC_SKIP(qPrintable(problem));
        if (!m_mp3.error().isEmpty() || QStandardPaths::findExecutable("mpg123").isEmpty())
            VELMARIC_SKIP("lame and mpg123 are needed");
        m_sink = std::make_unique<PrivateSink>();
        if (!m_sink->error().isEmpty())
            VELMARIC_SKIP(qPrintable(m_sink->error()));
        const QString why = m_recorder.start(m_sink->monitor());
        if (!why.isEmpty())
            VELMARIC_SKIP(qPrintable(why));
    }

    // Two entries that continue one sweep: the second's first sample follows the first's last
    // one, with the end of the first told (and the second assigned) at the boundary.
    void gapless()
    {
        const QString a = m_mp3.makeSweep("a.mp3", 1.0), b = m_mp3.makeSweep("b.mp3", 1.0, 44100);
        QVERIFY2(!b.isEmpty(), qPrintable(m_mp3.error()));
        const std::vector<qint16> ref = decoded({a, b});
        QCOMPARE(ref.size(), size_t(88200));
        MediaEngine engine;
        QStringList events;
        const qsizetype from = playPair(engine, a, b, events);
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 4, 10000);
        QCOMPARE(events, (QStringList{"a.mp3", "end 0 at 1000", "b.mp3", "end 0 at 1000"}));
        QVERIFY(m_recorder.waitForSilence(100));

        const std::vector<qint16> &rec = m_recorder.samples();
        const qsizetype start = SinkRecorder::firstSound(rec, from);
        QVERIFY(start >= 0);
        // The monitor misses the first milliseconds of a new stream, as the sink rewinds to
        // take it in at once: align on what it heard.
        const qsizetype offset = start - SinkRecorder::match(rec, start, ref, 0, 2000);
        // 50 ms past the boundary the recording is where the sweep is: nothing lost or added.
        const qsizetype after = 44100 + 2205;
        const qsizetype moved = SinkRecorder::match(rec, after + offset, ref, after, 2000) - after;
        QCOMPARE(moved, 0);
        QVERIFY(SinkRecorder::longestSilence(rec, start, offset + 88200 - 100) < 10);
    }

    // An entry at another sample rate starts a stream of its own: the one before plays out to
    // its last sample first, and nothing of the two overlaps.
    void formatChange()
    {
        const QString a = m_mp3.makeSweep("a44.mp3", 1.0);
        const QString b = m_mp3.make("b48.mp3", 0.5, {"-b", "64", "--resample", "48"});
        QVERIFY2(!b.isEmpty(), qPrintable(m_mp3.error()));
        const std::vector<qint16> ref = decoded({a});
        MediaEngine engine;
        QStringList events;
        const qsizetype from = playPair(engine, a, b, events);
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 4, 10000);
        QCOMPARE(events, (QStringList{"a44.mp3", "end 0 at 1000", "b48.mp3", "end 0 at 500"}));
        QVERIFY(m_recorder.waitForSilence(100));

        const std::vector<qint16> &rec = m_recorder.samples();
        const qsizetype start = SinkRecorder::firstSound(rec, from);
        QVERIFY(start >= 0);
        const qsizetype offset = start - SinkRecorder::match(rec, start, ref, 0, 2000);
        // The last 20 ms of the first entry, where they belong and untouched by the second.
        const qsizetype tail = qsizetype(ref.size()) - 882;
        QVERIFY(offset + tail + 882 <= qsizetype(rec.size()));
        double diff = 0;
        for (qsizetype k = 0; k < 882; ++k)
            diff += std::abs(rec[offset + tail + k] - ref[tail + k]);
        QVERIFY2(diff / 882 < 200, qPrintable(QString::number(diff / 882)));
        QVERIFY(SinkRecorder::firstSound(rec, offset + qsizetype(ref.size())) >= 0);
    }

    // The sound server dies while a file plays: the file ends as a failure, saying why.
    void serverGoesAway()
    {
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
            VELMARIC_SKIP("pulseaudio is not installed");
        const QString path = m_mp3.make("long.mp3", 10.0);
        QVERIFY2(!path.isEmpty(), qPrintable(m_mp3.error()));
        QTemporaryDir dir;
        const QString socket = dir.filePath("native");
        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir.path());
        env.insert("HOME", dir.path());
        server.setProcessEnvironment(env);
        server.start("pulseaudio",
                     {"-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                      "--load=module-null-sink"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(socket).exists(), 10000);
        const QByteArray server0 = qgetenv("PULSE_SERVER"), sink0 = qgetenv("PULSE_SINK");
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        qunsetenv("PULSE_SINK");
        const auto restore = qScopeGuard([&] {
            qputenv("PULSE_SERVER", server0);
            qputenv("PULSE_SINK", sink0);
        });

        MediaEngine engine;
        QList<int> ends;
        connect(&engine, &MediaEngine::endOfStream, this, [&](int result) { ends << result; });
        engine.setFileName(path);
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() > 100, 10000);
        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(ends, QList<int>{1}, 10000);
        QVERIFY(!engine.errorText().isEmpty());
        QCOMPARE(engine.playbackState(), MediaEngine::State::Stopped);
    }

    // Lengths exact to the sample, with or without a table of contents in the file.
    void length_data()
    {
        QTest::addColumn<QStringList>("lame");
        QTest::newRow("CBR with Info tag") << QStringList{"-b", "64"};
        QTest::newRow("CBR without tag") << QStringList{"-b", "64", "-t"};
        QTest::newRow("VBR with Xing table") << QStringList{"-V", "5"};
        QTest::newRow("VBR without Xing table") << QStringList{"-V", "5", "-t"};
    }

    void length()
    {
        QFETCH(QStringList, lame);
        const QString path = m_mp3.make(QString(QTest::currentDataTag()).replace(' ', '_') + ".mp3",
                                        2.3, lame);
        QVERIFY2(!path.isEmpty(), qPrintable(m_mp3.error()));
        const qint64 samples = ToneMp3::decode(path).size() / 2;
        MediaEngine engine;
        engine.setFileName(path);
        QTRY_VERIFY2(engine.duration() > 0 || !engine.errorText().isEmpty(),
                     qPrintable(engine.errorText()));
        QCOMPARE(engine.durationUs(), samples * 1'000'000 / 44100);
    }

    // A large file with no table of contents is counted frame by frame before it plays: the
    // assignment returns at once and the caller's event loop goes on running meanwhile.
    void largeFileOpensAside()
    {
        const QString one = m_mp3.make("one.mp3", 1.0, {"-b", "320", "-t"});
        QVERIFY2(!one.isEmpty(), qPrintable(m_mp3.error()));
        QFile piece(one), big(m_mp3.dir() + "/big.mp3");
        QVERIFY(piece.open(QIODevice::ReadOnly) && big.open(QIODevice::WriteOnly));
        const QByteArray frames = piece.readAll();
        const int copies = 1200; // about 50 MB
        for (int i = 0; i < copies; ++i)
            big.write(frames);
        big.close();
        const qint64 samples = copies * (ToneMp3::decode(one).size() / 2);

        MediaEngine engine;
        int ticks = 0, ticksBeforeLength = -1;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this, [&] { ++ticks; });
        connect(&engine, &MediaEngine::durationChanged, this, [&](qint64 ms) {
            if (ms > 0)
                ticksBeforeLength = ticks;
        });
        beat.start(1);
        QElapsedTimer call;
        call.start();
        engine.setFileName(big.fileName());
        const qint64 callMs = call.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(ticksBeforeLength >= 0 || !engine.errorText().isEmpty(), 30000);
        QVERIFY2(engine.errorText().isEmpty(), qPrintable(engine.errorText()));
        const qint64 lengthMs = call.elapsed();
        QVERIFY2(ticksBeforeLength > 0 && callMs * 2 < lengthMs,
                 qPrintable(QString("call %1 ms, length after %2 ms, %3 ticks")
                                .arg(callMs)
                                .arg(lengthMs)
                                .arg(ticksBeforeLength)));
        QCOMPARE(engine.durationUs(), samples * 1'000'000 / 44100);
        QTRY_VERIFY(engine.position() > 100);
    }

    // After a jump the sink plays the file from the very sample asked for.
    void setPosition()
    {
        const QString path = m_mp3.makeSweep("seek.mp3", 3.0);
        const std::vector<qint16> ref = decoded({path});
        MediaEngine engine;
        engine.setFileName(path);
        QTRY_VERIFY(engine.position() > 100);
        engine.pause();
        const qint64 target = 66'157; // samples
        engine.setPositionUs(target * 1'000'000 / 44100 + 1);
        QCOMPARE(engine.positionUs(), target * 1'000'000 / 44100);
        QCOMPARE(engine.playbackState(), MediaEngine::State::Paused);
        QVERIFY(m_recorder.waitForSilence(100));
        const qsizetype from = qsizetype(m_recorder.samples().size());
        engine.play();
        QTRY_VERIFY(engine.position() > target * 1000 / 44100 + 300);
        const std::vector<qint16> &rec = m_recorder.samples();
        const qsizetype start = SinkRecorder::firstSound(rec, from);
        QVERIFY(start >= 0);
        // Heard from the target on, but for the first milliseconds the monitor misses.
        const qsizetype heard = SinkRecorder::match(rec, start, ref, target, 3000);
        QVERIFY2(heard >= target && heard <= target + 441, qPrintable(QString::number(heard)));
        QCOMPARE(SinkRecorder::match(rec, start + 8192, ref, heard + 8192, 3000), heard + 8192);
    }
};

QTEST_GUILESS_MAIN(tst_MediaEngine)
#include "tst_mediaengine.moc"

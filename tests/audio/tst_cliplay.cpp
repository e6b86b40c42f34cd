#include "mediaengine.h"
#include "../peers/tonemp3.h"

#include <QtTest>

// velmaric-cli play: one line per file in order, the exit code, and the error output.
class tst_CliPlay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void play_data();
    void play();

private:
    ToneMp3 m_mp3;
    QString m_noSound; // why nothing can be heard, empty when it can
};

void tst_CliPlay::initTestCase()
{
    QVERIFY2(m_mp3.error().isEmpty(), qPrintable(m_mp3.error()));
    QVERIFY(!m_mp3.make("one.mp3", 0.3).isEmpty());
    QVERIFY(!m_mp3.make("two.mp3", 0.4, {"-V", "5"}).isEmpty()); // variable bit rate
    QFile notAudio(m_mp3.dir() + "/text.mp3");
    QVERIFY(notAudio.open(QIODevice::WriteOnly) && notAudio.write("not audio\n") > 0);
    m_noSound = MediaEngine::outputProblem();
}

void tst_CliPlay::play_data()
{
    QTest::addColumn<QStringList>("args"); // each file gets its "Now Playing: " line, in order
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err"); // text the error output must contain; empty: no output at all
    QTest::newRow("two files") << QStringList{"one.mp3", "two.mp3"} << 0 << "";
    QTest::newRow("missing file between two")
        << QStringList{"one.mp3", "gone.mp3", "two.mp3"} << 1 << "gone.mp3";
    QTest::newRow("not audio") << QStringList{"text.mp3"} << 1 << "text.mp3";
    QTest::newRow("no file") << QStringList{} << 2 << "Usage: velmaric-cli play FILE...";
}

void tst_CliPlay::play()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    if (!args.isEmpty() && !m_noSound.isEmpty())
        QSKIP(qPrintable(m_noSound));
    QString out;
    for (const QString &file : args)
        out += "Now Playing: " + file + '\n';
    QProcess cli;
    cli.setWorkingDirectory(m_mp3.dir());
    cli.start(QStringLiteral(VELMARIC_CLI_PATH), QStringList{"play"} + args);
    QVERIFY2(cli.waitForFinished(60000), "velmaric-cli play did not finish");
    const QString stdErr = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(cli.readAllStandardOutput()), out);
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
}

QTEST_GUILESS_MAIN(tst_CliPlay)
#include "tst_cliplay.moc"

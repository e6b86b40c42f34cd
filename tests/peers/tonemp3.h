#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>

// MP3 files made at run time: a generated sine tone encoded by lame, in a temporary folder
// removed with the fixture.
class ToneMp3 {
public:
    ToneMp3()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty())
            m_error = QStringLiteral("lame is not installed");
        else if (!m_dir.isValid())
            m_error = m_dir.errorString();
    }

    // Empty when files can be made; else why not.
    QString error() const { return m_error; }
    QString dir() const { return m_dir.path(); }

    // Encodes `seconds` of a 440 Hz tone (44.1 kHz mono) as `name`; the full path, or empty
    // with error() set.
    QString make(const QString &name, double seconds, const QStringList &lameOptions = {"-b", "64"})
    {
        return encode(name, seconds, lameOptions,
                      [](qint64 i) { return 8000 * std::sin(2 * M_PI * 440 * i / 44100); });
    }

    // A tone gliding up from 200 Hz by 300 Hz a second, so that every stretch of it is unlike
    // every other: samples `firstSample` on, so that one file can take up where another ends.
    QString makeSweep(const QString &name, double seconds, qint64 firstSample = 0)
    {
        return encode(name, seconds, {"-b", "192"}, [firstSample](qint64 i) {
            const double t = double(firstSample + i) / 44100;
            return 8000 * std::sin(2 * M_PI * (200 * t + 150 * t * t));
        });
    }

    // The samples libmpg123's own player decodes from `path` (16-bit, as encoded); empty when
    // mpg123 is missing.
    static QByteArray decode(const QString &path)
    {
        QProcess mpg123;
        mpg123.start(QStringLiteral("mpg123"), {"-q", "-s", path});
        mpg123.waitForFinished(60000);
        return mpg123.readAllStandardOutput();
    }

private:
    template<typename Signal>
    QString encode(const QString &name, double seconds, const QStringList &lameOptions,
                   Signal signal)
    {
        if (!m_error.isEmpty())
            return {};
        QByteArray pcm(int(seconds * 44100) * 2, Qt::Uninitialized);
        auto *sample = reinterpret_cast<qint16 *>(pcm.data());
        for (int i = 0; i < pcm.size() / 2; ++i)
            sample[i] = qToLittleEndian(qint16(signal(i)));
        QProcess lame;
        const QStringList raw{"--quiet", "-r", "-s", "44.1", "-m", "m"};
        lame.start(QStringLiteral("lame"),
                   raw + lameOptions + QStringList{"-", m_dir.filePath(name)});
        lame.write(pcm);
        lame.closeWriteChannel();
        if (!lame.waitForFinished(60000) || lame.exitStatus() != QProcess::NormalExit ||
            lame.exitCode() != 0) {
            m_error = "lame failed: " + QString::fromLocal8Bit(lame.readAllStandardError());
            return {};
        }
        return m_dir.filePath(name);
    }

    QTemporaryDir m_dir;
    QString m_error;
};

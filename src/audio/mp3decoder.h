#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

struct mpg123_handle_struct;

// One MP3 file decoded by libmpg123 to 16-bit samples at the file's own rate: gapless (the
// encoder's delay and padding taken off by the LAME/Info tag), with a length exact to the sample
// (the file is scanned when no Info table gives it) and seeking exact to the sample.
class Mp3Decoder {
public:
    struct Tags {
        QString title, album;
        QStringList artists;
    };

    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder &) = delete;
    Mp3Decoder &operator=(const Mp3Decoder &) = delete;

    // The decoder positioned at the first sample, or null with `error` saying why not.
    static std::unique_ptr<Mp3Decoder> open(const QString &path, QString *error);

    long rate() const { return m_rate; }
    int channels() const { return m_channels; }
    int frameBytes() const { return m_channels * 2; }
    std::int64_t length() const { return m_length; } // samples per channel
    const Tags &tags() const { return m_tags; }

    // Decodes into `buffer` up to `bytes` (whole frames); the bytes written. `done` turns true
    // at the end of the file, or at a fault after which nothing more can be decoded.
    std::size_t read(unsigned char *buffer, std::size_t bytes, bool *done);
    bool seek(std::int64_t sample);

private:
    Mp3Decoder() = default;
    void readTags();

    mpg123_handle_struct *m_handle = nullptr;
    long m_rate = 0;
    int m_channels = 0;
    std::int64_t m_length = 0;
    Tags m_tags;
};

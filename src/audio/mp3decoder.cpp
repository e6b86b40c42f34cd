#include "mp3decoder.h"

#include <QCoreApplication>
#include <QFile>

#include <mpg123.h>

#include <mutex>

namespace {
QString tr(const char *text) { return QCoreApplication::translate("Mp3Decoder", text); }

QString fromTag(const mpg123_string *s)
{
    return s && s->fill > 1 ? QString::fromUtf8(s->p, int(s->fill) - 1).trimmed() : QString();
}

// ID3v1 fields are fixed-width Latin-1, padded with NULs or blanks.
QString fromV1(const char *field, int width)
{
    return QString::fromLatin1(field, int(qstrnlen(field, width))).trimmed();
}
} // namespace

Mp3Decoder::~Mp3Decoder()
{
    if (m_handle) {
        mpg123_close(m_handle);
        mpg123_delete(m_handle);
    }
}

std::unique_ptr<Mp3Decoder> Mp3Decoder::open(const QString &path, QString *error)
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    std::unique_ptr<Mp3Decoder> d(new Mp3Decoder);
    int rc = MPG123_OK;
    d->m_handle = mpg123_new(nullptr, &rc);
    if (!d->m_handle) {
        *error = QString::fromUtf8(mpg123_plain_strerror(rc));
        return nullptr;
    }
    mpg123_handle *h = d->m_handle;
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(h);
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    int encoding = 0;
    const auto unplayable = [&] {
        *error = tr("Not a playable MP3 file: %1").arg(path);
        return nullptr;
    };
    const QByteArray file = QFile::encodeName(path);
    const auto format = [&] {
        return mpg123_getformat(h, &d->m_rate, &d->m_channels, &encoding) == MPG123_OK &&
               d->m_rate > 0 && d->m_channels > 0;
    };
    if (mpg123_open(h, file.constData()) != MPG123_OK || !format())
        return unplayable();
    // The LAME tag's frame count and encoder delay make the length exact. Without one (a VBR
    // file with no Xing table, or another encoder's file) libmpg123 guesses from the first
    // frame: count every frame header instead, which has to happen before the first frame is
    // decoded.
    long delay = -1;
    if (mpg123_getstate(h, MPG123_ENC_DELAY, &delay, nullptr) != MPG123_OK || delay < 0) {
        mpg123_close(h);
        if (mpg123_open(h, file.constData()) != MPG123_OK || mpg123_scan(h) != MPG123_OK ||
            !format())
            return unplayable();
    }
    // Later frames at another rate or channel count are converted to these.
    mpg123_format_none(h);
    mpg123_format(h, d->m_rate, d->m_channels, MPG123_ENC_SIGNED_16);
    d->m_length = qMax<off_t>(0, mpg123_length(h));
    if (d->m_length == 0)
        return unplayable();
    d->readTags();
    return d;
}

void Mp3Decoder::readTags()
{
    mpg123_id3v1 *v1 = nullptr;
    mpg123_id3v2 *v2 = nullptr;
    if (!(mpg123_meta_check(m_handle) & MPG123_ID3) || mpg123_id3(m_handle, &v1, &v2) != MPG123_OK)
        return;
    QString artist;
    if (v2) {
        m_tags.title = fromTag(v2->title);
        m_tags.album = fromTag(v2->album);
        artist = fromTag(v2->artist);
    }
    if (v1) {
        if (m_tags.title.isEmpty())
            m_tags.title = fromV1(v1->title, sizeof v1->title);
        if (m_tags.album.isEmpty())
            m_tags.album = fromV1(v1->album, sizeof v1->album);
        if (artist.isEmpty())
            artist = fromV1(v1->artist, sizeof v1->artist);
    }
    // ID3v2.4 separates several artists with NULs; libmpg123 hands them on as lines.
    for (const QString &a : artist.replace(QChar(0), QLatin1Char('\n')).split(QLatin1Char('\n')))
        if (!a.trimmed().isEmpty())
            m_tags.artists << a.trimmed();
}

std::size_t Mp3Decoder::read(unsigned char *buffer, std::size_t bytes, bool *done)
{
    bytes -= bytes % frameBytes();
    std::size_t total = 0;
    *done = false;
    while (total < bytes) {
        size_t got = 0;
        const int rc = mpg123_read(m_handle, buffer + total, bytes - total, &got);
        total += got;
        if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT)
            continue;
        // The end, or a fault libmpg123 could not resync past: either way nothing follows.
        *done = true;
        break;
    }
    return total - total % frameBytes();
}

bool Mp3Decoder::seek(std::int64_t sample)
{
    return mpg123_seek(m_handle, off_t(qBound<std::int64_t>(0, sample, m_length)), SEEK_SET) >= 0;
}

#pragma once
#include <QByteArrayView>
#include <QSaveFile>

// QSaveFile (Qt 6.4) renames a cut-off file over the old one when the disk fills up: a short
// write counts as written and commit() misses a flush that fails. These two close that gap.

// Writes all of `bytes`; a short write is repeated, so it either completes or fails with the
// reason (a short write alone sets none).
inline bool writeAll(QSaveFile &file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

// Commits only when every buffered byte reached the file; the second flush gives the reason.
inline bool commitWhole(QSaveFile &file)
{
    return (file.flush() || file.flush()) && file.commit();
}

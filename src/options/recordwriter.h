#pragma once
#include <QString>

// The suite's only writer of norvo.ini. It keeps the record's layout: the home page as 40
// Latin-1 bytes padded with blanks, then the three 16-bit booleans.
namespace RecordWriter {

// Why a home page can't be stored, or an empty text when it can: at most 40 characters, each
// a printable Latin-1 character (one byte in the record).
QString homePageProblem(const QString &homePage);

// Replaces the home page, AllowPopUps and UseStoredSettings of record 1 in the file at path
// (True as -1, False as 0). The Reserved field and every byte after the record stay as they
// were; the file is at least one record (128 bytes) long afterwards. The new file replaces the
// old one in one step, so a failure leaves the old file as it was. Returns an empty text on
// success, else a message for the user.
QString save(const QString &path, const QString &homePage, bool allowPopUps,
             bool useStoredSettings);

} // namespace RecordWriter

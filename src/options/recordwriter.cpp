#include "recordwriter.h"

#include "settingsrecord.h"
#include "wholefile.h"

#include <QCoreApplication>
#include <QFile>

namespace RecordWriter {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("RecordWriter", text); }
constexpr int HomePageBytes = 40;
} // namespace

QString homePageProblem(const QString &homePage)
{
    if (homePage.size() > HomePageBytes)
        return tr("The home page has %1 characters; the settings file holds at most %2.")
            .arg(homePage.size())
            .arg(HomePageBytes);
    for (const QChar c : homePage) {
        const char16_t u = c.unicode();
        if (u > 0xFF)
            return tr("The home page can't hold the character \"%1\": only Latin-1 characters "
                      "(one byte each) fit in the settings file.")
                .arg(c);
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            return tr("The home page can't hold control characters (code %1).").arg(int(u));
    }
    return {};
}

QString save(const QString &path, const QString &homePage, bool allowPopUps, bool useStoredSettings)
{
    if (const QString problem = homePageProblem(homePage); !problem.isEmpty())
        return problem;

    QFile old(path);
    QByteArray head;
    const bool hadFile = old.exists();
    if (hadFile) {
        if (!old.open(QIODevice::ReadOnly))
            return tr("Could not read %1: %2.").arg(path, old.errorString());
        head = old.read(SettingsRecord::Size);
    }
    SettingsRecord r = SettingsRecord::fromBytes(head);
    r.HomePage = homePage;
    r.AllowPopUps = allowPopUps ? VbTrue : VbFalse;
    r.UseStoredSettings = useStoredSettings ? VbTrue : VbFalse;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return tr("Could not save %1: %2.").arg(path, out.errorString());
    const QByteArray record = r.toBytes();
    qint64 written = record.size();
    bool whole = writeAll(out, record);
    // Whatever followed the record in the old file follows it in the new one.
    if (hadFile) {
        for (QByteArray chunk; whole && !(chunk = old.read(64 * 1024)).isEmpty();) {
            whole = writeAll(out, chunk);
            written += chunk.size();
        }
        if (old.error() != QFileDevice::NoError)
            return tr("Could not read %1: %2.").arg(path, old.errorString());
    }
    if (whole && written < SettingsRecord::RecordLength)
        whole = writeAll(out, QByteArray(SettingsRecord::RecordLength - written, '\0'));
    if (!whole || !commitWhole(out))
        return tr("Could not save %1: %2.").arg(path, out.errorString());
    return {};
}

} // namespace RecordWriter

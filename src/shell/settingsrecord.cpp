#include "settingsrecord.h"

#include <QFile>

SettingsRecord g_settingsRecord;
int16_t PopUpsAllowed = VbFalse;

namespace {
int16_t readInt16(const QByteArray &b, int offset)
{
    return int16_t(uint16_t(uint8_t(b[offset])) | uint16_t(uint8_t(b[offset + 1])) << 8);
}
void writeInt16(QByteArray &b, int offset, int16_t v)
{
    b[offset] = char(uint16_t(v) & 0xFF);
    b[offset + 1] = char(uint16_t(v) >> 8);
}
} // namespace

SettingsRecord SettingsRecord::fromBytes(const QByteArray &bytes)
{
    QByteArray b = bytes.left(Size);
    b.append(QByteArray(Size - b.size(), '\0'));
    SettingsRecord r;
    r.HomePage = QString::fromLatin1(b.constData(), 40);
    r.AllowPopUps = readInt16(b, 40);
    r.UseStoredSettings = readInt16(b, 42);
    r.Reserved = readInt16(b, 44);
    return r;
}

QByteArray SettingsRecord::toBytes() const
{
    QByteArray b = HomePage.left(40).toLatin1();
    b.append(QByteArray(40 - b.size(), ' '));
    b.resize(Size);
    writeInt16(b, 40, AllowPopUps);
    writeInt16(b, 42, UseStoredSettings);
    writeInt16(b, 44, Reserved);
    return b;
}

void ReadSettingsRecord()
{
    QFile file(QString::fromLatin1(SettingsFileName));
    QByteArray bytes;
    // Opening for record access creates an absent file empty; the suite never writes to it.
    if (file.exists() || file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        file.close();
        if (file.open(QIODevice::ReadOnly))
            bytes = file.read(SettingsRecord::RecordLength);
    }
    g_settingsRecord = SettingsRecord::fromBytes(bytes);
}

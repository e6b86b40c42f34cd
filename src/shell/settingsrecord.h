#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

// The 46-byte record at the head of norvo.ini: a 40-byte home page and three 16-bit booleans.
struct SettingsRecord {
    static constexpr int RecordLength = 128; // the platform's default record length
    static constexpr int Size = 46;

    QString HomePage = QString(40, QChar(0)); // always exactly 40 characters, one per byte
    int16_t AllowPopUps = 0;
    int16_t UseStoredSettings = 0;
    int16_t Reserved = 0;

    // Parses record 1 from the first bytes of a file; missing bytes read as zero.
    static SettingsRecord fromBytes(const QByteArray &bytes);
    QByteArray toBytes() const; // 46 bytes, for tools and tests that write records
};

constexpr int16_t VbTrue = -1;
constexpr int16_t VbFalse = 0;

// The program-wide copy and pop-up flag.
extern SettingsRecord g_settingsRecord;
extern int16_t PopUpsAllowed;

inline constexpr const char *SettingsFileName = "norvo.ini";

// Reads norvo.ini in the working directory into g_settingsRecord. An absent file is
// created empty; a file that cannot be created or read counts as all zero.
void ReadSettingsRecord();

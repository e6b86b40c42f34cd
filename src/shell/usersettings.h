#pragma once
#include <QString>

// Per-user settings by application, section and key, kept as one INI file per
// application under $XDG_CONFIG_HOME/velmaric/. Keys compare without regard to case.
namespace UserSettings {

QString directory();
QString filePath(const QString &application);

QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue = {});
// Returns false when the file could not be written; the previous file is then intact.
bool SaveSetting(const QString &application, const QString &section, const QString &key,
                 const QString &value);

} // namespace UserSettings

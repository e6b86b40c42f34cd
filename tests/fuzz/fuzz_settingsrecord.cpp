// The record at the head of norvo.ini; what it reads must write back to the same 46 bytes.
#include "settingsrecord.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const SettingsRecord record = SettingsRecord::fromBytes(bytes);
    const QByteArray written = record.toBytes();
    QByteArray expected = bytes.left(SettingsRecord::Size);
    expected.append(SettingsRecord::Size - expected.size(), '\0');
    if (written != expected)
        std::abort();
    return 0;
}

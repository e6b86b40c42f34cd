#include "playlistrules.h"

QString PlaylistRules::entry(const QString &folder, const QString &name)
{
    return name.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

PlaylistRules::End PlaylistRules::atEnd(int selected, int count, bool failed)
{
    m_failedInRow = failed ? m_failedInRow + 1 : 0;
    // Every entry failed in a row: stop after one round instead of spinning.
    if (failed && count > 0 && m_failedInRow >= count)
        return {false, false, -1};
    const bool last = selected == count - 1;
    if (count == 0)
        return {!failed, last, -1};
    return {!failed, last, (last ? -1 : selected) + 1};
}

int PlaylistRules::upcoming(int selected, int count, int ahead)
{
    if (count <= 0)
        return -1;
    int index = selected;
    for (int i = 0; i <= ahead; ++i)
        index = index >= count - 1 ? 0 : index + 1;
    return index;
}

int PlaylistRules::stepped(int selected, int count, int step)
{
    if (count <= 0)
        return -1;
    if (selected < 0)
        return step > 0 ? 0 : count - 1;
    return ((selected + step) % count + count) % count;
}

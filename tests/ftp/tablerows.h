#pragma once
// Test rows written as a table: a row a line; an indented line continues the one before (joined
// with a blank, or with nothing after a line ending in "\"). Cells are separated by "::" and
// trimmed, then \n \r \t \a in them read as in C.
#include <QStringList>

inline QList<QStringList> tableRows(const char *table)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(table).split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith(' ') || lines.isEmpty())
            lines << line;
        else if (lines.last().endsWith('\\'))
            lines.last() = lines.last().chopped(1) + line.trimmed();
        else
            lines.last() += ' ' + line.trimmed();
    QList<QStringList> rows;
    for (const QString &line : lines) {
        rows << QStringList();
        for (const QString &cell : line.split("::"))
            rows.last() << cell.trimmed()
                               .replace("\\n", "\n")
                               .replace("\\r", "\r")
                               .replace("\\t", "\t")
                               .replace("\\a", "\a");
    }
    return rows;
}

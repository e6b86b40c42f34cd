#pragma once
// Test rows written as a table: a row a line (an indented line continues the one before), cells
// separated by "::" and trimmed, then \n \r \t \a in them read as in C.
#include <QStringList>

inline QList<QStringList> tableRows(const char *table)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(table).split('\n', Qt::SkipEmptyParts))
        if (line.startsWith(' ') && !lines.isEmpty())
            lines.last() += ' ' + line.trimmed();
        else
            lines << line;
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

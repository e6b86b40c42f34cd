#pragma once
// Test rows written as a table: a row a line; an indented line continues the one before (joined
// with a blank, or with nothing after a line ending in "\"). Cells are separated by "::" and
// trimmed, then \n \r \t \a in them read as in C.
#include <QRegularExpression>
#include <QStringList>

inline QList<QStringList> tableRows(const char *table)
{
    const QString text = QString::fromUtf8(table)
                             .replace(QRegularExpression("\\\\\\n +"), "")
                             .replace(QRegularExpression("\\n +"), " ");
    QList<QStringList> rows;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        rows << QStringList();
        for (const QString &cell : line.split("::")) {
            rows.last() << cell.trimmed();
            for (const char *escape : {"n\n", "r\r", "t\t", "a\a"})
                rows.last().last().replace(QString('\\') + escape[0], QString(escape[1]));
        }
    }
    return rows;
}

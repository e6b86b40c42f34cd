#include "usersettings.h"

#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>

#include <vector>

namespace {

struct Entry {
    QString key;
    QString value;
};
struct Group {
    QString name;
    std::vector<Entry> entries;
};

// Values are single lines in the file; backslash escapes keep line breaks and leading blanks.
QString escape(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString unescape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            QChar n = text[++i];
            out += n == u'n' ? QChar(u'\n') : n == u'r' ? QChar(u'\r') : n;
        } else {
            out += c;
        }
    }
    return out;
}

// A damaged file yields whatever well-formed lines it still has; the rest is ignored.
std::vector<Group> parse(const QByteArray &data)
{
    std::vector<Group> groups;
    const QStringList lines = QString::fromUtf8(data).split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            groups.push_back({trimmed.mid(1, trimmed.size() - 2).trimmed(), {}});
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || groups.empty())
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty())
            continue;
        groups.back().entries.push_back({key, unescape(line.mid(eq + 1))});
    }
    return groups;
}

QByteArray serialize(const std::vector<Group> &groups)
{
    QString out;
    for (const Group &g : groups) {
        if (!out.isEmpty())
            out += u'\n';
        out += u'[' + g.name + QStringLiteral("]\n");
        for (const Entry &e : g.entries)
            out += e.key + u'=' + escape(e.value) + u'\n';
    }
    return out.toUtf8();
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

Group *findGroup(std::vector<Group> &groups, const QString &name)
{
    for (Group &g : groups)
        if (sameName(g.name, name))
            return &g;
    return nullptr;
}

std::vector<Group> load(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return parse(f.readAll());
}

} // namespace

namespace UserSettings {

QString directory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/velmaric");
}

QString filePath(const QString &application)
{
    QString name = application;
    name.replace(u'/', u'_');
    if (name.isEmpty() || name == u"." || name == u"..")
        name = QStringLiteral("_");
    return directory() + u'/' + name + QStringLiteral(".ini");
}

QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    auto groups = load(filePath(application));
    if (Group *g = findGroup(groups, section)) {
        // The last of duplicate keys wins, as a hand-edited file would expect.
        for (auto it = g->entries.rbegin(); it != g->entries.rend(); ++it)
            if (sameName(it->key, key))
                return it->value;
    }
    return defaultValue;
}

bool SaveSetting(const QString &application, const QString &section, const QString &key,
                 const QString &value)
{
    const QString path = filePath(application);
    if (!QDir().mkpath(directory()))
        return false;
    // Another instance may be updating the same file: without the lock, one of the two
    // read-modify-write rounds would lose the other's key.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return false;
    auto groups = load(path);
    Group *g = findGroup(groups, section);
    if (!g) {
        groups.push_back({section, {}});
        g = &groups.back();
    }
    // One key whatever its case: the newest spelling replaces every older one.
    std::erase_if(g->entries, [&](const Entry &e) { return sameName(e.key, key); });
    g->entries.push_back({key, value});

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    return writeAll(out, serialize(groups)) && commitWhole(out);
}

} // namespace UserSettings

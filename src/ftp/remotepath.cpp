#include "remotepath.h"

namespace RemotePath {

QString afterServerText(const QString &path, const QString &serverText)
{
    // Only whether the text occurs is checked; as many characters as it has are dropped from the
    // start even when it occurs further on.
    if (!path.contains(serverText))
        return path;
    return path.mid(serverText.size());
}

QString joinLogin(const QString &loginDirectory, const QString &rest)
{
    if (loginDirectory.isEmpty() || loginDirectory == QLatin1String("/"))
        return rest.isEmpty() ? QStringLiteral("/") : rest;
    if (rest.isEmpty())
        return loginDirectory;
    QString base = loginDirectory;
    if (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return rest.startsWith(QLatin1Char('/')) ? base + rest : base + QLatin1Char('/') + rest;
}

QString directoryOf(const QString &path, const QString &serverText, const QString &loginDirectory)
{
    return joinLogin(loginDirectory, afterServerText(path, serverText));
}

Split splitAtLastSlash(const QString &text)
{
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {QString(), text};
    return {text.left(slash + 1), text.mid(slash + 1)};
}

QString localNameProblem(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("it names a folder, not a file");
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("it holds a path separator");
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("it holds control characters");
    }
    if (name.toUtf8().size() > 255)
        return QStringLiteral("it is longer than a local file name may be");
    return {};
}

} // namespace RemotePath

#include "panes.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

bool matchesPattern(const QString &fileName, const QString &pattern)
{
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                QRegularExpression::CaseInsensitiveOption);
    return re.match(fileName).hasMatch();
}

QString folderProblem(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(native.constData()), ::closedir);
    if (dir)
        return {};
    const int error = errno;
    return QString::fromLocal8Bit(std::strerror(error));
}

namespace {
QString cleanFolder(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
} // namespace

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent)
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    roots.removeDuplicates();
    roots.removeAll(QStringLiteral("/"));
    roots.sort();
    roots.prepend(QStringLiteral("/"));
    for (const QString &root : roots)
        addDrive(root);
    connect(this, &QComboBox::activated, this, &DriveListBox::Change);
}

QString DriveListBox::drive() const { return currentData().toString(); }

void DriveListBox::addDrive(const QString &root)
{
    if (findData(root) < 0)
        addItem(root, root);
}

void DriveListBox::setDrive(const QString &root)
{
    const int i = findData(root);
    if (i >= 0 && i != currentIndex()) {
        setCurrentIndex(i);
        Q_EMIT Change();
    }
}

DirListBox::DirListBox(QWidget *parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { setPath(item->data(Qt::UserRole).toString()); });
}

QString DirListBox::setPath(const QString &path)
{
    const QString folder = cleanFolder(path);
    if (const QString problem = folderProblem(folder); !problem.isEmpty())
        return problem;
    const bool changed = folder != m_path;
    m_path = folder;
    clear();

    // The levels from the root down to the folder, then its subfolders one level deeper.
    QStringList levels;
    for (QDir d(folder);;) {
        levels.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &level : levels) {
        const QString name = depth == 0 ? level : QFileInfo(level).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, level);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QDir here(folder);
    const auto subs = here.entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                     QDir::Name | QDir::IgnoreCase);
    for (const QString &sub : subs) {
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + sub, this);
        item->setData(Qt::UserRole, here.filePath(sub));
    }
    if (changed)
        Q_EMIT Change();
    return {};
}

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent) {}

QString FileListBox::setPath(const QString &path)
{
    const QString folder = cleanFolder(path);
    if (const QString problem = folderProblem(folder); !problem.isEmpty())
        return problem;
    m_path = folder;
    refresh();
    return {};
}

void FileListBox::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    refresh();
}

QString FileListBox::fileName() const
{
    const QListWidgetItem *item = currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void FileListBox::refresh()
{
    clear();
    if (m_path.isEmpty())
        return;
    const QDir dir(m_path);
    const auto files = dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString &file : files)
        if (matchesPattern(file, m_pattern))
            addItem(file);
}

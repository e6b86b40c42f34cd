#include "localpanes.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace LocalPanes {

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
    roots.removeAll(QStringLiteral("/"));
    roots.removeDuplicates();
    roots.sort();
    roots.prepend(QStringLiteral("/"));
    addItems(roots);
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::driveChanged);
}

int DriveListBox::indexOf(const QString &mountPoint)
{
    const int i = findText(mountPoint);
    if (i >= 0)
        return i;
    addItem(mountPoint);
    return count() - 1;
}

void DriveListBox::setDrive(const QString &mountPoint) { setCurrentIndex(indexOf(mountPoint)); }

void DriveListBox::selectDrive(const QString &mountPoint)
{
    const QSignalBlocker quiet(this);
    setCurrentIndex(indexOf(mountPoint));
}

QString DriveListBox::driveOf(const QString &folder)
{
    const QStorageInfo volume(folder);
    return volume.isValid() ? volume.rootPath() : QStringLiteral("/");
}

DirListBox::DirListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { setPath(item->data(Qt::UserRole).toString()); });
}

QString DirListBox::setPath(const QString &path)
{
    const QString folder = cleanFolder(path);
    if (QString problem = folderProblem(folder); !problem.isEmpty())
        return problem;
    m_path = folder;
    clear();

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList levels;
    for (QDir up(folder);;) {
        levels.prepend(up.absolutePath());
        if (up.isRoot() || !up.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &level : std::as_const(levels)) {
        const QString name = depth == 0 ? level : QFileInfo(level).fileName();
        auto *item = new QListWidgetItem(openIcon, QString(depth * 2, QLatin1Char(' ')) + name,
                                         this);
        item->setData(Qt::UserRole, level);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QString indent(depth * 2, QLatin1Char(' '));
    const QDir here(folder);
    const QStringList subfolders = here.entryList(QDir::Dirs | QDir::NoDotAndDotDot |
                                                      (m_hidden ? QDir::Hidden : QDir::Filters()),
                                                  QDir::Name | QDir::IgnoreCase);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(closedIcon, indent + name, this);
        item->setData(Qt::UserRole, here.filePath(name));
    }
    Q_EMIT pathChanged();
    return {};
}

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QString FileListBox::setPath(const QString &path)
{
    const QString folder = cleanFolder(path);
    if (QString problem = folderProblem(folder); !problem.isEmpty())
        return problem;
    m_path = folder;
    clearSelection();
    refresh();
    return {};
}

void FileListBox::setPattern(const QString &pattern)
{
    m_filters = pattern.isEmpty() ? QStringList() : QDir::nameFiltersFromString(pattern);
    refresh();
}

void FileListBox::refresh()
{
    const QString selected = fileName();
    clear();
    if (m_path.isEmpty())
        return;
    // Name filters compare without regard to case unless told otherwise.
    addItems(QDir(m_path).entryList(m_filters,
                                    QDir::Files | (m_hidden ? QDir::Hidden : QDir::Filters()),
                                    QDir::Name | QDir::IgnoreCase));
    if (!selected.isEmpty()) {
        const auto found = findItems(selected, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!found.isEmpty())
            setCurrentItem(found.first());
    }
}

QString FileListBox::fileName() const
{
    const auto items = selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

} // namespace LocalPanes

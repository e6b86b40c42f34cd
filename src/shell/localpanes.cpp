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

FolderPane::FolderPane(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QString FolderPane::enter(const QString &folder)
{
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QString problem = folderProblem(clean);
    if (problem.isEmpty())
        m_path = clean;
    return problem;
}

DirListBox::DirListBox(QWidget *parent) : FolderPane(parent)
{
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { setPath(item->data(Qt::UserRole).toString()); });
}

QString DirListBox::setPath(const QString &folder)
{
    if (QString problem = enter(folder); !problem.isEmpty())
        return problem;
    const QString shown = path();
    clear();

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList levels;
    for (QDir up(shown);;) {
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
    const QDir here(shown);
    const QStringList subfolders = here.entryList(
        QDir::Dirs | QDir::NoDotAndDotDot | hiddenFilter(), QDir::Name | QDir::IgnoreCase);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(closedIcon, indent + name, this);
        item->setData(Qt::UserRole, here.filePath(name));
    }
    Q_EMIT pathChanged();
    return {};
}

QString FileListBox::setPath(const QString &folder)
{
    if (QString problem = enter(folder); !problem.isEmpty())
        return problem;
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
    if (path().isEmpty())
        return;
    // Name filters compare without regard to case unless told otherwise.
    addItems(QDir(path()).entryList(m_filters, QDir::Files | hiddenFilter(),
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

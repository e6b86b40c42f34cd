#include "localpanes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStyle>

#include <algorithm>

namespace FtpPanes {

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent)
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    roots.removeAll(QStringLiteral("/"));
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    roots.prepend(QStringLiteral("/"));
    addItems(roots);
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::driveChanged);
}

void DriveListBox::setDrive(const QString &mountPoint)
{
    int i = findText(mountPoint);
    if (i < 0) {
        addItem(mountPoint);
        i = count() - 1;
    }
    if (i == currentIndex())
        Q_EMIT driveChanged();
    else
        setCurrentIndex(i);
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

bool DirListBox::setPath(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable())
        return false;
    QDir dir(info.absoluteFilePath());
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty())
        return false;
    dir.setPath(canonical);

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList chain;
    for (QDir up(canonical);; up.cdUp()) {
        chain.prepend(up.absolutePath());
        if (up.isRoot())
            break;
    }
    int depth = 0;
    for (const QString &p : std::as_const(chain)) {
        const QString name = p == QLatin1String("/") ? p : QFileInfo(p).fileName();
        auto *item = new QListWidgetItem(openIcon, QString(depth * 2, QLatin1Char(' ')) + name,
                                         this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QString indent(depth * 2, QLatin1Char(' '));
    const QStringList subfolders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                                 QDir::Name | QDir::IgnoreCase);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(closedIcon, indent + name, this);
        item->setData(Qt::UserRole, dir.filePath(name));
    }
    m_path = canonical;
    Q_EMIT pathChanged();
    return true;
}

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileListBox::setPath(const QString &folder)
{
    m_path = folder;
    clearSelection();
    refresh();
}

void FileListBox::refresh()
{
    const QString selected = fileName();
    clear();
    const QStringList files = QDir(m_path).entryList(QDir::Files | QDir::Hidden | QDir::System,
                                                     QDir::Name | QDir::IgnoreCase);
    addItems(files);
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

} // namespace FtpPanes

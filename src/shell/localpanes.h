#pragma once
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QStringList>

// The local file panes of the FTP and audio windows: a drive list, a folder list and a file
// list. On Linux a "drive" is a mounted file system, named by its mount point; "/" comes first.
// A pane asked to show a folder it can't read says why and stays where it was.

namespace LocalPanes {

// Why the folder can't be listed, in the system's words; empty when it can.
QString folderProblem(const QString &path);

class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);
    QString drive() const { return currentText(); }
    // Chooses the mount point as a user would (driveChanged when it differs), adding it when
    // the list does not hold it (a mount gone since, say).
    void setDrive(const QString &mountPoint);
    // The same without driveChanged: shows where the other panes already are.
    void selectDrive(const QString &mountPoint);
    // The mount point of the file system that holds the folder.
    static QString driveOf(const QString &folder);

Q_SIGNALS:
    void driveChanged();

private:
    int indexOf(const QString &mountPoint);
};

// What the folder and file lists share: the folder they show and whether hidden entries show.
class FolderPane : public QListWidget {
    Q_OBJECT
public:
    explicit FolderPane(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    // Hidden entries are listed from the next listing on.
    void setShowHidden(bool show) { m_hidden = show; }

protected:
    // Makes the folder the pane's own; the problem, and nothing changed, when it can't be read.
    QString enter(const QString &folder);
    QDir::Filters hiddenFilter() const { return m_hidden ? QDir::Hidden : QDir::Filters(); }

private:
    QString m_path;
    bool m_hidden = false;
};

// A folder, its parents above it and its subfolders below it, each level indented. Activating
// an entry (double-click or Enter) makes it the folder.
class DirListBox : public FolderPane {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);
    // Shows the folder anew and emits pathChanged; the problem, and nothing changed, when the
    // folder can't be read.
    QString setPath(const QString &folder);

Q_SIGNALS:
    void pathChanged();
};

// The files of a folder that match the pattern, sorted by name, at most one selected.
class FileListBox : public FolderPane {
    Q_OBJECT
public:
    using FolderPane::FolderPane;
    // The problem, and nothing changed, when the folder can't be read.
    QString setPath(const QString &folder);
    // Wildcards such as "*.mp3*", letters compared without regard to case, several separated
    // by ";"; every file when empty.
    void setPattern(const QString &pattern);
    // Lists the folder anew, keeping the selected name when the file is still listed.
    void refresh();
    // The selected file's name, empty when none is selected.
    QString fileName() const;

private:
    QStringList m_filters;
};

} // namespace LocalPanes

#pragma once
#include <QComboBox>
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

// A folder, its parents above it and its subfolders below it, each level indented. Activating
// an entry (double-click or Enter) makes it the folder.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    // Shows the folder anew and emits pathChanged; the problem, and nothing changed, when the
    // folder can't be read.
    QString setPath(const QString &folder);
    // Hidden subfolders are listed from the next listing on.
    void setShowHidden(bool show) { m_hidden = show; }

Q_SIGNALS:
    void pathChanged();

private:
    QString m_path;
    bool m_hidden = false;
};

// The files of a folder that match the pattern, sorted by name, at most one selected.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    // The problem, and nothing changed, when the folder can't be read.
    QString setPath(const QString &folder);
    // Wildcards such as "*.mp3*", letters compared without regard to case, several separated
    // by ";"; every file when empty.
    void setPattern(const QString &pattern);
    // Hidden files are listed from the next listing on.
    void setShowHidden(bool show) { m_hidden = show; }
    // Lists the folder anew, keeping the selected name when the file is still listed.
    void refresh();
    // The selected file's name, empty when none is selected.
    QString fileName() const;

private:
    QString m_path;
    QStringList m_filters;
    bool m_hidden = false;
};

} // namespace LocalPanes

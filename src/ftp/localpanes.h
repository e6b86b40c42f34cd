#pragma once
#include <QComboBox>
#include <QListWidget>

// The local side of the FTP window: a drive list, a directory list and a file list. On Linux a
// "drive" is a mounted file system, named by its mount point; "/" comes first.

namespace FtpPanes {

class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);
    QString drive() const { return currentText(); }
    // Selects the mount point, adding it when the list does not hold it; emits driveChanged.
    void setDrive(const QString &mountPoint);
    // The mount point of the file system that holds the folder.
    static QString driveOf(const QString &folder);

Q_SIGNALS:
    void driveChanged();
};

// A folder, its parents above it and its subfolders below it. Activating an entry (double-click
// or Enter) makes it the folder.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    // Shows the folder and emits pathChanged; false (and nothing changed) when it can't be read.
    bool setPath(const QString &folder);

Q_SIGNALS:
    void pathChanged();

private:
    QString m_path;
};

// Every file of a folder, sorted by name, at most one selected.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    void setPath(const QString &folder);
    // Lists the folder anew, keeping the selected name when the file still exists.
    void refresh();
    // The selected file's name, empty when none is selected.
    QString fileName() const;

private:
    QString m_path;
};

} // namespace FtpPanes

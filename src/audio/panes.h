#pragma once

#include <QComboBox>
#include <QListWidget>

// The drive, directory and file panes of the audio window. Each keeps a current path and
// reports a change the way the window's handlers expect; setting a path that can't be read
// fails with the system's description of the error and leaves the pane where it was.

// True when a file name matches a wildcard pattern such as "*.mp3*", letters compared
// without regard to case.
bool matchesPattern(const QString &fileName, const QString &pattern);

// The reason a folder can't be listed, empty when it can.
QString folderProblem(const QString &path);

// drv1: the mounted file systems, "/" first.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);
    QString drive() const; // the chosen file system's root
    void setDrive(const QString &root);
    // A root not among the mounted file systems (a vanished mount, say); it can be chosen.
    void addDrive(const QString &root);

Q_SIGNALS:
    void Change();
};

// Dir1: the folder's path from the root, each level indented, then its subfolders.
// A double-click opens the folder under the pointer.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    // Returns the error text, empty on success; Change is emitted when the path changed.
    QString setPath(const QString &path);

Q_SIGNALS:
    void Change();

private:
    QString m_path;
};

// File1: the files of one folder that match the pattern, sorted by name.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    QString setPath(const QString &path); // the error text, empty on success
    QString pattern() const { return m_pattern; }
    void setPattern(const QString &pattern);
    QString fileName() const; // the selected file's name, empty when none
    void refresh();

private:
    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
};

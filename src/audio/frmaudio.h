#pragma once

#include "playlistrules.h"
#include "toolwindow.h"

#include <QTimer>

#include <memory>

namespace LocalPanes {
class DirListBox;
class DriveListBox;
class FileListBox;
} // namespace LocalPanes
class MediaPlayerControl;
class MprisService;
class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSystemTrayIcon;

// The audio player: file panes, a playlist that repeats, the media control, and an icon in
// the notification area that stands for the window while it is minimised.
class frmAudio : public ToolWindow {
    Q_OBJECT

public:
    explicit frmAudio(QWidget *parent = nullptr);
    ~frmAudio() override;

    void createControls() override;
    void Form_Load() override;
    void Form_Unload() override;

    // The folder "C:\" of the original design: the user's music folder, else the home folder.
    static QString defaultFolder();
    // Colours are numbers whose low byte is red, the next green, the third blue.
    static QColor vbColor(quint32 value);

    static constexpr double CompactHeight = 5110;
    static constexpr double ExpandedHeight = 7140;

    LocalPanes::DriveListBox *drv1 = nullptr;
    QPushButton *cmdplay = nullptr;
    LocalPanes::DirListBox *Dir1 = nullptr;
    LocalPanes::FileListBox *File1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QPushButton *Command8 = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdRemove = nullptr;
    QPushButton *cmdClear = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label1 = nullptr;
    MediaPlayerControl *MediaPlayer1 = nullptr;

    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    // "Minimise to Tray" (Ctrl+M) in the window's menu, offered while a tray exists.
    QAction *minimiseAction() const { return m_minimise; }
    quint32 fileBackColor() const { return m_fileBackColor; }

public Q_SLOTS:
    void File1_DblClick();
    void cmdplay_Click();
    void Command8_Click();
    void Label4_MouseDown(int button);
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdClear_Click();
    void List1_DblClick();
    void MediaPlayer1_EndOfStream(int result);
    void drv1_Change();
    void Dir1_Change();
    void File1_MouseDown(const QPoint &pos);
    void Form_Resize();
    // The window back from the notification area: normal, shown, active, main window raised.
    void restoreFromTray();
    void minimiseToTray();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void playFile(const QString &path, const QString &shownName);
    void playSelectedEntry();
    void setHeight(double twips);
    void placeInMainWindow();
    void attachToFrame();
    void watchTray();
    void offerTray();
    void stepEntry(int step); // media keys: next (+1) or previous (-1) entry, round the list
    void publishMedia();

    quint32 m_fileBackColor = 16711680;
    PlaylistRules m_rules;
    QAction *m_minimise = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<MprisService> m_mpris; // the desktop's media keys, while the window exists
    // The tray may come and go: the offer follows it, and a hidden window comes back.
    QTimer m_trayWatch;
};

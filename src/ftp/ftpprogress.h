#pragma once
#include <QDialog>
#include <QElapsedTimer>

#include "wininet.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

// What a running call shares with the window's thread: when it started, bytes done and
// expected (0 unknown), and the observer whose cancel flag the box sets.
struct FtpProgressState {
    FtpProgressState() { started.start(); }
    QElapsedTimer started;
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    FtpCallObserver observer;
};

// The modal box shown while a connection, listing or transfer runs: what is done, the file,
// bytes done of total, rate, time left, and Cancel.
class FtpProgressDialog : public QDialog {
    Q_OBJECT
public:
    FtpProgressDialog(QWidget *parent, const QString &action, const QString &file,
                      FtpProgressState &state);
    // Reads the shared figures into the labels.
    void updateFigures();
    void reject() override;

    QLabel *lblAction = nullptr;
    QLabel *lblFile = nullptr;
    QProgressBar *barProgress = nullptr;
    QLabel *lblBytes = nullptr;
    QLabel *lblRate = nullptr;
    QLabel *lblTimeLeft = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    FtpProgressState &m_state;
};

namespace FtpProgress {

// Runs FTP calls on a worker thread and returns when they have ended, with the worker's last
// error and server reply moved to the calling thread. Meanwhile the caller's window stays
// painted; after a short delay a modal progress box shows, whose Cancel makes the running call
// fail as cancelled. User input is held back until the box shows. trust, when given, answers
// the calls' trust questions on the caller's thread while the worker waits.
void run(QWidget *owner, const QString &action, const QString &file,
         const std::function<void()> &work, const TrustQuestion &trust = {});

// How long a call may run before its box shows (tests set 0 to reach Cancel at once).
void setShowDelay(int milliseconds);

// The question for an SSH key's passphrase, asked on the window's thread while a call runs.
// Tests install a handler that answers instead of the box (nullopt: the user cancelled).
using PassphraseHandler = std::function<std::optional<QString>(const QString &keyFile)>;
void setPassphraseHandler(PassphraseHandler handler);

// Byte counts, rates and durations as the box shows them.
QString byteText(std::int64_t bytes);
QString durationText(std::int64_t seconds);

} // namespace FtpProgress

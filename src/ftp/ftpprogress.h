#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>

#include "ftpsteps.h"
#include "wininet.h"

#include <atomic>
#include <coroutine>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class Job;
class QLabel;
class QProgressBar;
class QPushButton;

// What a running call shares with the window's thread: when it started, bytes done and
// expected (0 unknown), and, once it has ended, its last error and server reply.
struct FtpProgressState {
    FtpProgressState() { started.start(); }
    QElapsedTimer started;
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    FtpLastError outcome;
};

// The window-modal box shown while a connection, listing or transfer runs: what is done, the
// file, bytes done of total, rate, time left, and Cancel.
class FtpProgressDialog : public QDialog {
    Q_OBJECT
public:
    FtpProgressDialog(QWidget *parent, const QString &action, const QString &file,
                      std::shared_ptr<const FtpProgressState> state);
    // Reads the shared figures into the labels.
    void updateFigures();
    // The box stays until the call has given up; the call then fails as cancelled.
    void reject() override;

    QLabel *lblAction = nullptr;
    QLabel *lblFile = nullptr;
    QProgressBar *barProgress = nullptr;
    QLabel *lblBytes = nullptr;
    QLabel *lblRate = nullptr;
    QLabel *lblTimeLeft = nullptr;
    QPushButton *cmdCancel = nullptr;

Q_SIGNALS:
    void cancelRequested();

private:
    std::shared_ptr<const FtpProgressState> m_state;
};

namespace FtpProgress {

// One FTP call for steps to co_await: work runs on a job of its own while the steps wait; after
// a short delay the progress box opens, whose Cancel makes the running call fail as cancelled.
// When the call has ended the steps go on, with the worker's last error and server reply moved
// to the window's thread. trust, when given, answers the call's trust questions on the window's
// thread while the worker waits. work may refer to the steps' locals: destroying the steps
// cancels and joins it.
class Call {
public:
    Call(QWidget *owner, QString action, QString file, std::function<void()> work,
         TrustQuestion trust = {});
    ~Call();
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    bool await_ready() const noexcept { return false; }
    template<class Promise>
    void await_suspend(std::coroutine_handle<Promise> waiting)
    {
        start(waiting.promise().runner, waiting);
    }
    void await_resume() const { FtpRestoreLastError(m_state->outcome); }

private:
    void start(FtpStepsRunner *runner, std::coroutine_handle<> waiting);

    QPointer<QWidget> m_owner;
    QString m_action, m_file;
    std::function<void()> m_work;
    TrustQuestion m_trust;
    std::shared_ptr<FtpProgressState> m_state;
    std::unique_ptr<Job> m_job;
    QPointer<FtpProgressDialog> m_box;
    std::shared_ptr<bool> m_alive; // the queued resume's guard
};

inline Call call(QWidget *owner, const QString &action, const QString &file,
                 std::function<void()> work, const TrustQuestion &trust = {})
{
    return Call(owner, action, file, std::move(work), trust);
}

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

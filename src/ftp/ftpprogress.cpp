#include "ftpprogress.h"

#include "controls.h"
#include "job.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <condition_variable>
#include <mutex>
#include <string>

using Controls::setReadableText;

namespace FtpProgress {

namespace {
int g_showDelay = 400;
PassphraseHandler g_passphraseHandler;

using Reply = std::function<void(std::optional<std::string>)>;

// On the worker: hands ask to the window's thread and waits for what it passes to its reply,
// or for the job's cancel (no answer). The window's thread never waits for the worker.
std::optional<std::string> askOnWindow(JobContext &job, std::function<void(Reply)> ask)
{
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool ready = false;
        std::optional<std::string> value;
    };
    auto answer = std::make_shared<Answer>();
    const Reply reply = [answer](std::optional<std::string> value) {
        {
            std::lock_guard lock(answer->mutex);
            if (answer->ready)
                return;
            answer->ready = true;
            answer->value = std::move(value);
        }
        answer->given.notify_all();
    };
    const auto hook = job.onCancel([reply] { reply(std::nullopt); });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [ask = std::move(ask), reply, answer] {
            {
                std::lock_guard lock(answer->mutex);
                if (answer->ready)
                    return;
            }
            ask(reply);
        },
        Qt::QueuedConnection);
    std::unique_lock lock(answer->mutex);
    answer->given.wait(lock, [&] { return answer->ready; });
    return answer->value;
}

// The passphrase box, opened over the progress box (shown at once for it).
void askPassphrase(QPointer<FtpProgressDialog> box, const QString &keyFile, const Reply &reply)
{
    const auto text = [](const std::optional<QString> &s) {
        return s ? std::optional<std::string>(s->toStdString()) : std::nullopt;
    };
    if (g_passphraseHandler)
        return reply(text(g_passphraseHandler(keyFile)));
    if (!box)
        return reply(std::nullopt);
    if (!box->isVisible())
        box->open();
    auto *input = new QInputDialog(box);
    input->setAttribute(Qt::WA_DeleteOnClose);
    input->setWindowTitle(applicationTitle());
    input->setLabelText(QStringLiteral("Passphrase for the SSH key %1:").arg(keyFile));
    input->setTextEchoMode(QLineEdit::Password);
    if (auto *edit = input->findChild<QLineEdit *>())
        edit->setAccessibleName(QStringLiteral("Passphrase"));
    QObject::connect(input, &QDialog::finished, input, [input, reply, text](int result) {
        reply(result == QDialog::Accepted ? text(input->textValue()) : std::nullopt);
    });
    input->open();
}
} // namespace

void setShowDelay(int milliseconds) { g_showDelay = milliseconds; }

void setPassphraseHandler(PassphraseHandler handler) { g_passphraseHandler = std::move(handler); }

QString byteText(std::int64_t bytes)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString durationText(std::int64_t seconds)
{
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString ms = QStringLiteral("%1:%2")
                           .arg(m, h ? 2 : 1, 10, QLatin1Char('0'))
                           .arg(s, 2, 10, QLatin1Char('0'));
    return h ? QStringLiteral("%1:%2").arg(h).arg(ms) : ms;
}

Call::Call(QWidget *owner, QString action, QString file, std::function<void()> work,
           TrustQuestion trust)
    : m_owner(owner), m_action(std::move(action)), m_file(std::move(file)),
      m_work(std::move(work)), m_trust(std::move(trust)),
      m_state(std::make_shared<FtpProgressState>()), m_alive(std::make_shared<bool>(true))
{}

Call::~Call()
{
    // The job first: a passphrase box over the progress box then answers no one.
    m_job.reset();
    delete m_box.data();
}

void Call::start(FtpStepsRunner *runner, std::coroutine_handle<> waiting)
{
    Q_ASSERT(runner);
    // Steps stopped while a box of theirs was open start nothing more.
    if (runner->isStopping())
        return;
    auto *box = new FtpProgressDialog(m_owner, m_action, m_file, m_state);
    m_box = box;
    auto *tick = new QTimer(box);
    QObject::connect(tick, &QTimer::timeout, box, &FtpProgressDialog::updateFigures);
    tick->start(200);
    QTimer::singleShot(g_showDelay, box, [box] {
        if (!box->isVisible())
            box->open();
    });

    m_job = std::make_unique<Job>();
    QObject::connect(box, &FtpProgressDialog::cancelRequested, m_job.get(), &Job::cancel);
    // Resumed from the runner's own queue, never from inside the job's signal: the steps may
    // end this call, and the job with it.
    QObject::connect(m_job.get(), &Job::finished, runner,
                     [runner, waiting, alive = std::weak_ptr<bool>(m_alive)] {
                         QMetaObject::invokeMethod(
                             runner,
                             [runner, waiting, alive] {
                                 if (alive.lock())
                                     runner->resume(waiting);
                             },
                             Qt::QueuedConnection);
                     });
    m_job->start([state = m_state, work = m_work, trust = m_trust,
                  boxPointer = QPointer<FtpProgressDialog>(box)](JobContext &job) {
        FtpCallObserver observer;
        observer.progress = [state](std::uint64_t done, std::uint64_t total) {
            state->done = done;
            state->total = total;
        };
        if (trust)
            observer.trust = [&job, trust](const ServerIdentity &identity) {
                // Any text stands for Yes.
                return askOnWindow(job, [trust, identity](const Reply &reply) {
                           reply(trust(identity) ? std::optional<std::string>("yes")
                                                 : std::nullopt);
                       }).has_value();
            };
        observer.passphrase = [&job, boxPointer](const std::string &keyFile,
                                                 std::string &passphrase) {
            const auto answer = askOnWindow(
                job, [boxPointer, keyFile = QString::fromStdString(keyFile)](const Reply &reply) {
                    askPassphrase(boxPointer, keyFile, reply);
                });
            if (answer)
                passphrase = *answer;
            return answer.has_value();
        };
        const auto hook = job.onCancel([&observer] { observer.cancelled = true; });
        {
            const FtpObserverScope watch(observer);
            work();
        }
        state->outcome = FtpSaveLastError();
    });
}

} // namespace FtpProgress

FtpProgressDialog::FtpProgressDialog(QWidget *parent, const QString &action, const QString &file,
                                     std::shared_ptr<const FtpProgressState> state)
    : QDialog(parent), m_state(std::move(state))
{
    setObjectName(QStringLiteral("FtpProgressDialog"));
    setWindowTitle(action);
    auto *layout = new QVBoxLayout(this);
    const auto addLabel = [this, layout](const char *name, const QString &text) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        setReadableText(l, text);
        layout->addWidget(l);
        return l;
    };
    lblAction = addLabel("lblAction", action);
    lblFile = addLabel("lblFile", file);
    lblFile->setVisible(!file.isEmpty());
    barProgress = new QProgressBar(this);
    barProgress->setObjectName(QStringLiteral("barProgress"));
    barProgress->setAccessibleName(QStringLiteral("Progress"));
    barProgress->setRange(0, 0);
    layout->addWidget(barProgress);
    lblBytes = addLabel("lblBytes", QString());
    lblRate = addLabel("lblRate", QString());
    lblTimeLeft = addLabel("lblTimeLeft", QString());
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAccessibleName(QStringLiteral("Cancel"));
    layout->addWidget(cmdCancel, 0, Qt::AlignRight);
    connect(cmdCancel, &QPushButton::clicked, this, &FtpProgressDialog::reject);
    setMinimumWidth(360);
    updateFigures();
}

void FtpProgressDialog::reject()
{
    cmdCancel->setEnabled(false);
    setReadableText(lblAction, QStringLiteral("Cancelling..."));
    Q_EMIT cancelRequested();
}

void FtpProgressDialog::updateFigures()
{
    using namespace FtpProgress;
    const auto done = std::int64_t(m_state->done.load()), total = std::int64_t(m_state->total.load());
    const double seconds = m_state->started.elapsed() / 1000.0;
    const double rate = seconds > 0.2 ? done / seconds : 0;
    if (total > 0) {
        // The bar counts in KiB so that files beyond 2 GiB fit its int range.
        barProgress->setRange(0, int(total / 1024) + 1);
        barProgress->setValue(int(done / 1024));
        setReadableText(lblBytes, QStringLiteral("%1 of %2").arg(byteText(done), byteText(total)));
    } else {
        setReadableText(lblBytes, done ? byteText(done) : QString());
    }
    setReadableText(lblRate,
                    rate > 0 ? byteText(std::int64_t(rate)) + QStringLiteral("/s") : QString());
    setReadableText(lblTimeLeft, total > 0 && rate > 0
                                     ? QStringLiteral("Time left: ") +
                                           durationText(std::int64_t((total - done) / rate + 0.5))
                                     : QString());
}

#include "ftpprogress.h"

#include "controls.h"
#include "messagebox.h"

#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <thread>

using Controls::setReadableText;

namespace FtpProgress {

namespace {
int g_showDelay = 400;
PassphraseHandler g_passphraseHandler;

std::optional<QString> askPassphrase(QWidget *owner, const QString &keyFile)
{
    if (g_passphraseHandler)
        return g_passphraseHandler(keyFile);
    QInputDialog box(owner);
    box.setWindowTitle(applicationTitle());
    box.setLabelText(QStringLiteral("Passphrase for the SSH key %1:").arg(keyFile));
    box.setTextEchoMode(QLineEdit::Password);
    if (auto *edit = box.findChild<QLineEdit *>())
        edit->setAccessibleName(QStringLiteral("Passphrase"));
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
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

void run(QWidget *owner, const QString &action, const QString &file,
         const std::function<void()> &work, const TrustQuestion &trust)
{
    FtpProgressState state;
    state.observer.progress = [&state](std::uint64_t done, std::uint64_t total) {
        state.done = done;
        state.total = total;
    };
    QEventLoop loop;
    // Asked from the worker; the box shows on the window's thread while the worker waits.
    state.observer.passphrase = [owner, &loop](const std::string &keyFile,
                                               std::string &passphrase) {
        std::optional<QString> answer;
        QMetaObject::invokeMethod(
            &loop, [&] { answer = askPassphrase(owner, QString::fromStdString(keyFile)); },
            Qt::BlockingQueuedConnection);
        if (answer)
            passphrase = answer->toStdString();
        return answer.has_value();
    };
    FtpLastError outcome;
    // Declared before the worker, so it runs once the worker has been joined.
    struct Handover {
        const FtpLastError &outcome;
        ~Handover() { FtpRestoreLastError(outcome); }
    } handover{outcome};
    std::atomic<bool> finished{false};
    if (trust)
        state.observer.trust = [&trust, &loop](const ServerIdentity &identity) {
            bool yes = false;
            QMetaObject::invokeMethod(
                &loop, [&] { yes = trust(identity); }, Qt::BlockingQueuedConnection);
            return yes;
        };
    std::thread worker([&state, &work, &outcome, &finished, &loop] {
        {
            const FtpObserverScope watch(state.observer);
            work();
        }
        outcome = FtpSaveLastError();
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Joined on every way out, so the worker never outlives what it refers to.
    struct Joiner {
        std::thread &t;
        ~Joiner() { t.join(); }
    } joiner{worker};

    // A quick call ends before its box would show; until then input waits in the queue.
    QTimer showTimer;
    showTimer.setSingleShot(true);
    QObject::connect(&showTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    showTimer.start(g_showDelay);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (finished)
        return;

    FtpProgressDialog box(owner, action, file, state);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &box, &FtpProgressDialog::updateFigures);
    tick.start(200);
    while (!finished)
        loop.exec();
}

} // namespace FtpProgress

FtpProgressDialog::FtpProgressDialog(QWidget *parent, const QString &action, const QString &file,
                                     FtpProgressState &state)
    : QDialog(parent), m_state(state)
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
    // The box stays until the call has given up; the call then fails as cancelled.
    m_state.observer.cancelled = true;
    cmdCancel->setEnabled(false);
    setReadableText(lblAction, QStringLiteral("Cancelling..."));
}

void FtpProgressDialog::updateFigures()
{
    using namespace FtpProgress;
    const auto done = std::int64_t(m_state.done.load()), total = std::int64_t(m_state.total.load());
    const double seconds = m_state.started.elapsed() / 1000.0;
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

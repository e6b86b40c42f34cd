// The trace-route window, run with its thread inside a namespace chain:
// source - router 1 - router 2 - target.
#include "frmnorvoroute.h"
#include "hostlookup.h"
#include "messagebox.h"
#include "netnschain.h"
#include "twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
const QString SilentRouter = QStringLiteral(
    "table inet silent { chain errors { type filter hook output priority 0; "
    "icmp type time-exceeded drop; }; }");

// Router 1 forwards nothing and answers nothing: no hop beyond it can speed up a give-up,
// so every attempt runs its whole time-out and the trace stays under way.
const QString BlackHole = QStringLiteral(
    "table inet blackhole { chain errors { type filter hook output priority 0; "
    "icmp type time-exceeded drop; }; chain passing { type filter hook forward priority 0; drop; }; }");

QStringList listLines(QListWidget *list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

// ICMP sockets this process holds, to see that a trace released its handle.
int icmpSocketCount()
{
    int n = 0;
    const auto entries = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System);
    for (const QFileInfo &fd : entries)
        n += fd.symLinkTarget().contains(QLatin1String("socket:"));
    return n;
}
} // namespace

class tst_frmNorvoRoute : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void formLoad();
    void localTarget();
    void packetSize_data();
    void packetSize();
    void resolveHostIP();
    void silentHop();
    void stopButton();
    void closedMidTrace();
    void reloadedMidTrace();
    void destroyedMidTrace();
    void unresolvedTarget();

private:
    // Runs a trace to target, calling during() once the trace is under way.
    void trace(const QString &target, const std::function<void()> &during = {});
    std::unique_ptr<NetnsChain> m_chain;
    std::unique_ptr<NetnsScope> m_inSource;
    std::unique_ptr<frmNorvoRoute> m_window;
    QStringList m_boxes;
};

void tst_frmNorvoRoute::initTestCase()
{
    const QString reason = NetnsChain::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_chain = std::make_unique<NetnsChain>(2);
    QVERIFY2(m_chain->isUp(), qPrintable(m_chain->error()));
    m_inSource = std::make_unique<NetnsScope>(m_chain->source());
    QVERIFY(m_inSource->isEntered());
}

void tst_frmNorvoRoute::cleanupTestCase()
{
    m_window.reset();
    m_inSource.reset();
    m_chain.reset();
}

void tst_frmNorvoRoute::init()
{
    QVERIFY(m_chain->nft(m_chain->router(1), QString()));
    m_boxes.clear();
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_boxes << QStringLiteral("%1|%2|%3").arg(text).arg(style).arg(title);
        return int(vbOK);
    });
    m_window = std::make_unique<frmNorvoRoute>();
    m_window->load();
    m_window->show();
}

void tst_frmNorvoRoute::cleanup()
{
    m_window.reset();
    setMsgBoxHandler({});
}

void tst_frmNorvoRoute::trace(const QString &target, const std::function<void()> &during)
{
    m_window->Combo1->setEditText(target);
    if (during) {
        // Once the first attempt is under way (its line is in List1).
        auto *poll = new QTimer(m_window.get());
        connect(poll, &QTimer::timeout, this, [this, poll, during] {
            if (m_window && m_window->List1 && m_window->List1->count() > 0) {
                poll->stop();
                during();
            }
        });
        poll->start(20);
    }
    QTest::mouseClick(m_window->Command1, Qt::LeftButton);
}

void tst_frmNorvoRoute::formLoad()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Trace Route"));
    QCOMPARE(m_window->size(), Twips::size(8220, 5775));
    QCOMPARE(m_window->Combo1->count(), 4);
    QCOMPARE(m_window->Combo1->currentIndex(), 1);
    QCOMPARE(m_window->Combo1->currentText(), frmNorvoRoute::presetHosts().at(1));
    QCOMPARE(m_window->Command1->text(), QStringLiteral("Trace It"));
    QVERIFY(m_window->Command1->isEnabled());
    QVERIFY(!m_window->cmdStop->isEnabled());
    QCOMPARE(m_window->Check1->text(), QStringLiteral("Resolve Host IP"));
    QVERIFY(!m_window->Check1->isChecked());
    QCOMPARE(m_window->Text4->geometry(), Twips::rect(3240, 2025, 4920, 3690));
}

void tst_frmNorvoRoute::localTarget()
{
    trace(QStringLiteral("127.0.0.1"));
    QCOMPARE(m_window->Text1->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(m_window->Text2->text(), QStringLiteral("1"));
    QCOMPARE(m_window->Text4->toPlainText(),
             QStringLiteral("Tracing Route to 127.0.0.1:\n\nHop #\t1\t<10 ms\t127.0.0.1\n\n"
                            "Trace Route Complete"));
    QCOMPARE(listLines(m_window->List1), QStringList{"1"});
    QVERIFY(m_window->Command1->isEnabled());
    QVERIFY(m_boxes.isEmpty());
}

void tst_frmNorvoRoute::packetSize_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("corrected");
    QTest::newRow("raised") << "20" << "32";
    QTest::newRow("lowered") << "500" << "128";
    QTest::newRow("not a number") << "abc" << "32";
    QTest::newRow("kept") << "40.5" << "40.5";
}

void tst_frmNorvoRoute::packetSize()
{
    QFETCH(QString, box);
    QFETCH(QString, corrected);
    m_window->Text3->setText(box);
    trace(QStringLiteral("127.0.0.1"));
    QCOMPARE(m_window->Text3->text(), corrected);
    QVERIFY(m_window->Text4->toPlainText().endsWith(QStringLiteral("Trace Route Complete")));
}

void tst_frmNorvoRoute::resolveHostIP()
{
    const auto entry = winsock::gethostbyaddr(0x0100007F);
    if (!entry)
        QSKIP("127.0.0.1 has no host name here");
    m_window->Check1->setChecked(true);
    trace(QStringLiteral("127.0.0.1"));
    QCOMPARE(m_window->Text4->toPlainText(),
             QStringLiteral("Tracing Route to 127.0.0.1:\n\nHop #\t1\t<10 ms\t127.0.0.1\t%1\n\n"
                            "Trace Route Complete")
                 .arg(QString::fromStdString(entry->name)));
}

void tst_frmNorvoRoute::silentHop()
{
    QVERIFY(m_chain->nft(m_chain->router(1), SilentRouter));
    trace(m_chain->targetAddress());
    QCOMPARE(m_window->Text4->toPlainText(),
             QStringLiteral("Tracing Route to 10.99.2.2:\n\nHop #\t1\t*\t\n"
                            "Hop #\t2\t<10 ms\t10.99.1.2\nHop #\t3\t<10 ms\t10.99.2.2\n\n"
                            "Trace Route Complete"));
    QCOMPARE(listLines(m_window->List1), (QStringList{"1", "1", "1", "2", "3"}));
}

void tst_frmNorvoRoute::stopButton()
{
    QVERIFY(m_chain->nft(m_chain->router(1), BlackHole));
    const int socketsBefore = icmpSocketCount();
    bool commandEnabled = true, stopEnabled = false, tracing = false;
    trace(m_chain->targetAddress(), [&] {
        commandEnabled = m_window->Command1->isEnabled();
        stopEnabled = m_window->cmdStop->isEnabled();
        tracing = m_window->isTracing();
        QTest::mouseClick(m_window->cmdStop, Qt::LeftButton);
    });
    QVERIFY(!commandEnabled);
    QVERIFY(stopEnabled);
    QVERIFY(tracing);
    // The attempt under way ran out; no further attempt, no hop line, no completion.
    QCOMPARE(listLines(m_window->List1), QStringList{"1"});
    QCOMPARE(m_window->Text4->toPlainText(), QStringLiteral("Tracing Route to 10.99.2.2:\n\n"));
    QVERIFY(m_window->Command1->isEnabled());
    QVERIFY(!m_window->cmdStop->isEnabled());
    QVERIFY(!m_window->isTracing());
    QCOMPARE(icmpSocketCount(), socketsBefore);
}

void tst_frmNorvoRoute::closedMidTrace()
{
    QVERIFY(m_chain->nft(m_chain->router(1), BlackHole));
    const int socketsBefore = icmpSocketCount();
    QElapsedTimer timer;
    trace(m_chain->targetAddress(), [&] {
        timer.start();
        m_window->close();
    });
    // It ended at once rather than after the attempt's time-out, and released its socket.
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(!m_window->isTracing());
    QCOMPARE(icmpSocketCount(), socketsBefore);
    QCOMPARE(m_window->Text4->toPlainText(), QStringLiteral("Tracing Route to 10.99.2.2:\n\n"));
    // Loaded again, the window traces as before.
    m_window->load();
    m_window->show();
    QVERIFY(m_window->Command1->isEnabled());
    QVERIFY(m_chain->nft(m_chain->router(1), QString()));
    trace(m_chain->targetAddress());
    QVERIFY(m_window->Text4->toPlainText().endsWith(QStringLiteral("Trace Route Complete")));
}

void tst_frmNorvoRoute::reloadedMidTrace()
{
    QVERIFY(m_chain->nft(m_chain->router(1), BlackHole));
    QPointer<QPlainTextEdit> oldOutput = m_window->Text4;
    trace(m_chain->targetAddress(), [&] {
        m_window->close();
        m_window->load(); // deletes the controls the trace was writing to
        m_window->show();
    });
    QVERIFY(oldOutput.isNull());
    QVERIFY(!m_window->isTracing());
    QCOMPARE(m_window->Text4->toPlainText(), QString());
    QCOMPARE(m_window->List1->count(), 0);
    QVERIFY(m_window->Command1->isEnabled());
    QVERIFY(!m_window->cmdStop->isEnabled());
}

void tst_frmNorvoRoute::destroyedMidTrace()
{
    QVERIFY(m_chain->nft(m_chain->router(1), BlackHole));
    const int socketsBefore = icmpSocketCount();
    QPointer<frmNorvoRoute> window = m_window.get();
    trace(m_chain->targetAddress(), [this] { m_window.reset(); });
    QVERIFY(window.isNull());
    QCOMPARE(icmpSocketCount(), socketsBefore);
}

void tst_frmNorvoRoute::unresolvedTarget()
{
    // A namespace without routes: the look-up fails at once and sends nothing anywhere.
    NetnsChain lonely(0);
    QVERIFY2(lonely.isUp(), qPrintable(lonely.error()));
    QCOMPARE(lonely.exec(lonely.source(), {"ip", "route", "flush", "all"}), 0);
    NetnsScope inLonely(lonely.source());
    QVERIFY(inLonely.isEntered());
    trace(QStringLiteral("no-such-host.invalid"));
    QCOMPARE(m_window->Text1->text(), QString());
    QCOMPARE(m_window->Text4->toPlainText(),
             QStringLiteral("Tracing Route to no-such-host.invalid:\n\n\nTrace Route Complete"));
    QCOMPARE(listLines(m_window->List1), QStringList{"1"});
    QVERIFY(m_boxes.isEmpty());
}

QTEST_MAIN(tst_frmNorvoRoute)
#include "tst_frmnorvoroute.moc"

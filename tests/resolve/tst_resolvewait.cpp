// The resolver windows while a look-up waits on a DNS server that never answers (see
// resolver-netns.sh): the rest of the suite works on, and closing the window or the suite, or
// SIGTERM, ends the wait at once.
#include "closedproxy.h"
#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "resolvernamespace.h"
#include "skip.h"
#include "suiteprocess.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {
const QString Silent = QStringLiteral("silent.velmaric.test"); // only DNS could answer

// DNS queries the namespace's nft rules have dropped so far.
int droppedQueries()
{
    QProcess nft;
    nft.start(QStringLiteral("nft"), {"list", "table", "inet", "dns"});
    nft.waitForFinished(5000);
    int n = 0;
    QRegularExpression packets(QStringLiteral("packets (\\d+)"));
    for (auto it = packets.globalMatch(QString::fromLatin1(nft.readAllStandardOutput()));
         it.hasNext();)
        n += it.next().captured(1).toInt();
    return n;
}

} // namespace

class tst_ResolveWait : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { REQUIRE_RESOLVER_NAMESPACE(); }

    void otherWindowWorksWhileOneWaits()
    {
        const int dropped = droppedQueries();
        frmNorvoIP waiting;
        waiting.load();
        waiting.show();
        waiting.Text1->setText(Silent);
        waiting.Text2->setText(QStringLiteral("before"));
        QElapsedTimer timer;
        timer.start();
        waiting.Command1->click();
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(waiting.isLookingUp() && waiting.cursor().shape() == Qt::WaitCursor);
        QTRY_VERIFY(droppedQueries() > dropped);

        frmNorvoHost other;
        other.load();
        other.show();
        other.Text1->setText(QStringLiteral("203.0.113.5"));
        QSignalSpy ended(&other, &frmNorvoHost::lookupEnded);
        other.Command1->click();
        QVERIFY(ended.wait(5000));
        QCOMPARE(other.Text2->text(), QStringLiteral("reverse.velmaric.test"));
        QVERIFY(waiting.isLookingUp());

        // Closed, the window is idle at once; its look-up ends on its own and shows nothing.
        timer.restart();
        waiting.close();
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(!waiting.isLookingUp() && waiting.cursor().shape() != Qt::WaitCursor);
        QCOMPARE(waiting.Text2->text(), QStringLiteral("before"));
    }

    // The suite itself, a look-up under way in Resolve IP Address, ended as a user would.
    void suiteEndsAtOnce_data()
    {
        QTest::addColumn<bool>("signal"); // else File > Exit
        QTest::newRow("SIGTERM") << true;
        QTest::newRow("File > Exit") << false;
    }
    void suiteEndsAtOnce()
    {
        QFETCH(bool, signal);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            VELMARIC_SKIP("needs an X display (Xvfb)");
        QTemporaryDir dir;
        QProcess suite;
        START_SUITE(suite, dir.path(), dir.path());
        const int dropped = droppedQueries();
        // Tools > Resolve IP Address opens with the focus in its name box; Find It is two tabs on.
        QVERIFY(xdotool({"key", "--delay", "100", "alt+t", "i"}));
        QVERIFY(xdotool({"type", "--delay", "20", Silent}));
        QVERIFY(xdotool({"key", "--delay", "100", "Tab", "Tab", "space"}));
        QVERIFY2(QTest::qWaitFor([&] { return droppedQueries() > dropped; }, 20000),
                 "the look-up did not start");

        END_SUITE_AT_ONCE(suite, signal);
    }
};

SILENT_DNS_NAMESPACE_TEST_MAIN(tst_ResolveWait, QApplication)
#include "tst_resolvewait.moc"

// The Port Scanner window against listeners and firewall rules in a network namespace of the
// test's own: listed results, bad input, Stop, and closing the window mid-scan.
#include "frmportscan.h"
#include "messagebox.h"
#include "scannamespace.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

namespace {
// TCP and UDP sockets this process holds: the scan's connections and look-ups beside the
// fixture's own, none of the X or D-Bus connections the toolkit opens when it likes.
int inetSockets()
{
    int n = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        int domain = 0;
        socklen_t len = sizeof domain;
        n += ::getsockopt(fd.toInt(), SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 &&
             (domain == AF_INET || domain == AF_INET6);
    }
    return n;
}
} // namespace

class tst_frmPortScan : public QObject {
    Q_OBJECT
    std::unique_ptr<ScanNamespace::Peers> m_peers;
    std::unique_ptr<frmPortScan> m_window;
    QStringList m_messages;

    // Host, first and last port, time-out; then Scan.
    void start(const QStringList &fields)
    {
        const QList<QLineEdit *> boxes{m_window->txtHost, m_window->txtFirstPort,
                                       m_window->txtLastPort, m_window->txtTimeout};
        for (int i = 0; i < boxes.size(); ++i)
            boxes[i]->setText(fields[i]);
        QTest::mouseClick(m_window->cmdScan, Qt::LeftButton);
    }
    QStringList rows() const
    {
        QStringList lines;
        const QAbstractItemModel *m = m_window->lvwPorts->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < m->columnCount(); ++c)
                cells << m->index(r, c).data().toString();
            lines << cells.join(' ').trimmed();
        }
        return lines;
    }

private Q_SLOTS:
    void initTestCase() { INIT_SCAN_NAMESPACE(m_peers); }
    void init()
    {
        m_messages.clear();
        setMsgBoxHandler([this](const QString &text, int, const QString &) {
            m_messages << text;
            return int(vbOK);
        });
        m_window = std::make_unique<frmPortScan>();
        m_window->load();
        m_window->show();
    }
    void cleanup()
    {
        m_window.reset();
        setMsgBoxHandler({});
    }

    void scan_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("listAll");
        QTest::addColumn<QStringList>("listed"); // with every port: the closed rows named here
        QTest::addColumn<QString>("found");
        const QString counts = QStringLiteral("Open ports found: 3 (closed: 15, filtered: 2)");
        QTest::newRow("open ports") << QStringList{"localhost", "5000", "5019", "300"} << false
                                    << QStringList{"5001 open", "5004 open", "5010 open"} << counts;
        QTest::newRow("every port")
            << QStringList{"::1", "5000", "5019", "300"} << true
            << QStringList{"5000 closed", "5001 open",     "5004 open",  "5007 filtered",
                           "5010 open",   "5013 filtered", "5016 closed"}
            << counts;
        QTest::newRow("a service") << QStringList{"127.0.0.1", "21", "23", "300"} << false
                                   << QStringList{"22 open ssh"}
                                   << "Open ports found: 1 (closed: 2, filtered: 0)";
    }
    void scan()
    {
        QFETCH(QStringList, fields);
        QFETCH(bool, listAll);
        QFETCH(QStringList, listed);
        QFETCH(QString, found);
        m_window->chkListAll->setChecked(listAll);
        start(fields);
        QVERIFY(m_window->isScanning() && !m_window->cmdScan->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 10000);
        QVERIFY(m_window->cmdScan->isEnabled() && !m_window->cmdStop->isEnabled());
        QStringList shown = rows();
        shown.removeIf([&](const QString &r) {
            return listAll && r.endsWith("closed") && !listed.contains(r);
        });
        QCOMPARE(shown, listed);
        QCOMPARE(m_window->lblFound->text(), found);
        QCOMPARE(m_window->lblFound->accessibleName(), found);
        QVERIFY2(m_window->lblStatus->text().startsWith("Scanned "),
                 qPrintable(m_window->lblStatus->text()));
        QCOMPARE(m_window->prgScan->value(), m_window->prgScan->maximum());
        QCOMPARE(m_messages, QStringList());
    }

    void tabOrder()
    {
        QStringList order;
        QWidget *w = m_window->txtHost;
        do {
            if (w->focusPolicy() & Qt::TabFocus && w->isEnabled())
                order << w->objectName();
        } while ((w = w->nextInFocusChain()) != m_window->txtHost);
        QCOMPARE(order.join(' '), // Stop is off while nothing runs
                 "txtHost txtFirstPort txtLastPort txtTimeout chkListAll cmdScan lvwPorts");
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const auto row = [](const char *name, const QString &fields, const QString &message,
                            const char *focus) {
            QTest::newRow(name) << fields.split(',') << message << focus;
        };
        const QString port = QStringLiteral("port must be a number from 1 to 65535.");
        row("no host", " ,1,2,100", "Enter a host name or address.", "txtHost");
        row("port 0", "::1,0,2,100", "The first " + port, "txtFirstPort");
        row("not a number", "::1,1,x,100", "The last " + port, "txtLastPort");
        row("port 65536", "::1,1,65536,100", "The last " + port, "txtLastPort");
        row("first > last", "::1,9,8,100",
            "The first port must not be greater than the last port.", "txtFirstPort");
        row("time-out 0", "::1,1,2,0",
            "The time-out must be a number of milliseconds from 1 to 600000.", "txtTimeout");
        row("unknown host", "nowhere.velmaric.test,1,2,100",
            "Host \"nowhere.velmaric.test\" not found.", "txtHost");
    }
    void badInput()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QApplication::setActiveWindow(m_window.get());
        m_window->lvwPorts->setFocus();
        QTRY_VERIFY(m_window->lvwPorts->hasFocus());
        start(fields);
        QTRY_COMPARE(m_messages, QStringList{message});
        QTRY_VERIFY(!m_window->isScanning());
        QVERIFY(m_window->cmdScan->isEnabled());
        QCOMPARE(m_window->lvwPorts->model()->rowCount(), 0);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
    }

    // Ports that drop every probe keep the scan under way until it is stopped or closed; a
    // name the name server never answers keeps the look-up waiting. Either way every socket
    // of the scan goes, and the window scans again.
    void interrupt_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("close");
        QTest::newRow("Stop") << "127.0.0.1" << false;
        QTest::newRow("closing the window") << "127.0.0.1" << true;
        QTest::newRow("closing during the look-up") << "slow.velmaric.test" << true;
    }
    void interrupt()
    {
        QFETCH(QString, host);
        QFETCH(bool, close);
        const int sockets = inetSockets();
        start({host, "6000", "6999", "600000"});
        if (host == "127.0.0.1")
            QTRY_VERIFY(m_window->inFlight() > 0 && inetSockets() > sockets);
        else // the look-up's query is out
            QTRY_VERIFY(inetSockets() > sockets);
        QVERIFY(m_window->isScanning());
        if (close) {
            QVERIFY(m_window->close());
            QVERIFY(!m_window->isScanning()); // at once: nothing of it outlives the window
        } else {
            QTest::mouseClick(m_window->cmdStop, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 5000);
            QVERIFY(m_window->lblStatus->text().startsWith("Stopped after "));
            QCOMPARE(m_window->lblStatus->accessibleName(), m_window->lblStatus->text());
        }
        // A look-up cannot be interrupted; it lets its socket go once it gives up.
        QTRY_COMPARE_WITH_TIMEOUT(inetSockets(), sockets, 15000);
        if (close) {
            m_window->load();
            m_window->show();
        }
        start({"127.0.0.1", "5001", "5001", "300"});
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 10000);
        QCOMPARE(rows(), QStringList{"5001 open"});
        QCOMPARE(m_messages, QStringList());
    }
};

RESOLVER_NAMESPACE_TEST_MAIN(tst_frmPortScan, QApplication)
#include "tst_frmportscan.moc"

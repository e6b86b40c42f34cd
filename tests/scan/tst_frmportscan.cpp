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

class tst_frmPortScan : public QObject {
    Q_OBJECT
    std::vector<std::unique_ptr<QTcpServer>> m_listeners;
    std::unique_ptr<ScanNamespace::NameServer> m_dns;
    std::unique_ptr<frmPortScan> m_window;
    QStringList m_messages;

    void start(const QString &host, const QString &first, const QString &last,
               const QString &timeout)
    {
        m_window->txtHost->setText(host);
        m_window->txtFirstPort->setText(first);
        m_window->txtLastPort->setText(last);
        m_window->txtTimeout->setText(timeout);
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
    void initTestCase()
    {
        REQUIRE_SCAN_NAMESPACE();
        m_listeners = ScanNamespace::listen();
        QVERIFY(!m_listeners.empty());
        m_dns = std::make_unique<ScanNamespace::NameServer>();
        QVERIFY(m_dns->running());
    }
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
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("listAll");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("found");
        const QString counts = QStringLiteral("Open ports found: 3 (closed: 15, filtered: 2)");
        QTest::newRow("open ports")
            << "localhost"
            << "5000"
            << "5019" << false << QStringList{"5001 open", "5004 open", "5010 open"} << counts;
        QTest::newRow("every port")
            << "::1"
            << "5000"
            << "5019" << true
            << QStringList{"5000 closed", "5001 open",     "5004 open",  "5007 filtered",
                           "5010 open",   "5013 filtered", "5016 closed"}
            << counts;
        QTest::newRow("a service") << "127.0.0.1"
                                   << "21"
                                   << "23" << false << QStringList{"22 open ssh"}
                                   << "Open ports found: 1 (closed: 2, filtered: 0)";
    }
    void scan()
    {
        QFETCH(QString, host);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, listAll);
        QFETCH(QStringList, listed);
        QFETCH(QString, found);
        m_window->chkListAll->setChecked(listAll);
        start(host, first, last, "300");
        QVERIFY(m_window->isScanning());
        QVERIFY(!m_window->cmdScan->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 10000);
        QVERIFY(m_window->cmdScan->isEnabled());
        QVERIFY(!m_window->cmdStop->isEnabled());
        QStringList shown = rows();
        if (listAll) // the closed rows between those named here are not spelled out
            shown.removeIf(
                [&](const QString &r) { return r.endsWith("closed") && !listed.contains(r); });
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
            w = w->nextInFocusChain();
        } while (w != m_window->txtHost);
        QCOMPARE(order,
                 (QStringList{"txtHost", "txtFirstPort", "txtLastPort", "txtTimeout", "chkListAll",
                              "cmdScan", "lvwPorts"})); // Stop is off while nothing runs
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("fields"); // host, first, last, time-out
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no host") << QStringList{" ", "1", "2", "100"}
                                 << "Enter a host name or address."
                                 << "txtHost";
        QTest::newRow("port 0") << QStringList{"::1", "0", "2", "100"}
                                << "The first port must be a number from 1 to 65535."
                                << "txtFirstPort";
        QTest::newRow("not a number") << QStringList{"::1", "1", "x", "100"}
                                      << "The last port must be a number from 1 to 65535."
                                      << "txtLastPort";
        QTest::newRow("port 65536") << QStringList{"::1", "1", "65536", "100"}
                                    << "The last port must be a number from 1 to 65535."
                                    << "txtLastPort";
        QTest::newRow("first > last") << QStringList{"::1", "9", "8", "100"}
                                      << "The first port must not be greater than the last port."
                                      << "txtFirstPort";
        QTest::newRow("time-out 0")
            << QStringList{"::1", "1", "2", "0"}
            << "The time-out must be a number of milliseconds from 1 to 600000."
            << "txtTimeout";
        QTest::newRow("unknown host") << QStringList{"nowhere.velmaric.test", "1", "2", "100"}
                                      << "Host \"nowhere.velmaric.test\" not found."
                                      << "txtHost";
    }
    void badInput()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QApplication::setActiveWindow(m_window.get());
        m_window->lvwPorts->setFocus();
        QTRY_VERIFY(m_window->lvwPorts->hasFocus());
        start(fields[0], fields[1], fields[2], fields[3]);
        QTRY_COMPARE(m_messages, QStringList{message});
        QTRY_VERIFY(!m_window->isScanning());
        QVERIFY(m_window->cmdScan->isEnabled());
        QCOMPARE(m_window->lvwPorts->model()->rowCount(), 0);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
    }

    // Ports that drop every probe keep the scan under way until it is stopped or closed; a
    // name the name server never answers keeps the look-up waiting.
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
        const int sockets = ScanNamespace::socketCount();
        start(host, "6000", "6999", "600000");
        if (host == "127.0.0.1") {
            QTRY_VERIFY(m_window->inFlight() > 0);
            QVERIFY(ScanNamespace::socketCount() > sockets);
        }
        QVERIFY(m_window->isScanning());
        if (close) {
            QVERIFY(m_window->close());
            QVERIFY(!m_window->isScanning()); // at once: nothing of it outlives the window
        } else {
            QTest::mouseClick(m_window->cmdStop, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 5000);
            QVERIFY(m_window->lblStatus->text().startsWith("Stopped after "));
            QCOMPARE(m_window->lblStatus->accessibleName(), m_window->lblStatus->text());
            QVERIFY(m_window->cmdScan->isEnabled());
        }
        // A look-up cannot be interrupted; it lets its socket go once it gives up.
        QTRY_COMPARE_WITH_TIMEOUT(ScanNamespace::socketCount(), sockets, 15000);

        // The window scans again, loaded anew after closing.
        if (close) {
            m_window->load();
            m_window->show();
        }
        start("127.0.0.1", "5001", "5001", "300");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 10000);
        QCOMPARE(rows(), QStringList{"5001 open"});
        QCOMPARE(m_messages, QStringList());
    }
};

SCAN_NAMESPACE_TEST_MAIN(tst_frmPortScan, QApplication)
#include "tst_frmportscan.moc"

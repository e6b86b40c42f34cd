// The ping window over loopback.
#include "echomodule.h"
#include "frmnorvoping.h"
#include "icmpapi.h"
#include "messagebox.h"
#include "rawcapability.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
struct Box {
    QString text;
    int style;
    QString title;
};
} // namespace

class tst_frmNorvoPing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void tabOrder();
    void twoPingsInARow();
    void notDotted_data();
    void notDotted();
    void withoutPermission();

private:
    void needEcho();
    std::unique_ptr<frmNorvoPing> m_window;
    QList<Box> m_boxes;
};

void tst_frmNorvoPing::init()
{
    m_boxes.clear();
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_boxes.append({text, style, title});
        return int(vbOK);
    });
    m_window = std::make_unique<frmNorvoPing>();
    m_window->load();
    m_window->show();
}

void tst_frmNorvoPing::cleanup()
{
    m_window.reset();
    setMsgBoxHandler({});
}

void tst_frmNorvoPing::needEcho()
{
    IcmpFile handle;
    if (!handle)
        QSKIP("no ICMP socket may be opened here (needs root, cap_net_raw or ping_group_range)");
}

void tst_frmNorvoPing::tabOrder()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Ping"));
    QList<QWidget *> order{m_window->Command1, m_window->Text1, m_window->Text2};
    for (auto *t : m_window->Text4)
        order.append(t);
    // The next widget that Tab reaches, passing labels and other unfocusable ones.
    auto nextTabStop = [](QWidget *w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    for (int i = 1; i < order.size(); ++i)
        QCOMPARE(nextTabStop(order[i - 1]), order[i]);
}

void tst_frmNorvoPing::twoPingsInARow()
{
    needEcho();
    m_window->Text1->setText(QStringLiteral("127.0.0.1"));
    m_window->Text2->setText(QStringLiteral("first data"));
    QTest::mouseClick(m_window->Command1, Qt::LeftButton);
    QCOMPARE(m_window->Text4[0]->text(), QStringLiteral("0   [ ip success ]"));
    QCOMPARE(m_window->Text4[1]->text(), QStringLiteral("16777343"));
    QVERIFY(m_window->Text4[2]->text().endsWith(QStringLiteral(" ms")));
    QCOMPARE(m_window->Text4[3]->text(), QStringLiteral("10 bytes"));
    QCOMPARE(m_window->Text4[4]->text(), QStringLiteral("first data"));
    QVERIFY(m_window->Text4[5]->text() != QStringLiteral("0"));

    m_window->Text2->clear();
    QTest::mouseClick(m_window->Command1, Qt::LeftButton);
    QCOMPARE(m_window->Text4[0]->text(), QStringLiteral("0   [ ip success ]"));
    QCOMPARE(m_window->Text4[3]->text(), QStringLiteral("0 bytes"));
    QCOMPARE(m_window->Text4[4]->text(), QStringLiteral("first data"));
    QCOMPARE(m_window->Text2->text(), QString());
    QVERIFY(m_boxes.isEmpty());
}

void tst_frmNorvoPing::notDotted_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("host name") << "localhost";
    QTest::newRow("empty") << "";
    QTest::newRow("all ones") << "255.255.255.255";
    QTest::newRow("three parts") << "127.0.1";
}

void tst_frmNorvoPing::notDotted()
{
    QFETCH(QString, address);
    m_window->Text4[4]->setText(QStringLiteral("earlier data"));
    m_window->Text1->setText(address);
    m_window->Text2->setText(QStringLiteral("abc"));
    QTest::mouseClick(m_window->Command1, Qt::LeftButton);
    QCOMPARE(m_window->Text4[0]->text(), QStringLiteral("-1   [ inet_addr: bad IP format ]"));
    QCOMPARE(m_window->Text4[1]->text(), QStringLiteral("0"));
    QCOMPARE(m_window->Text4[2]->text(), QStringLiteral("0 ms"));
    QCOMPARE(m_window->Text4[3]->text(), QStringLiteral("0 bytes"));
    QCOMPARE(m_window->Text4[4]->text(), QStringLiteral("earlier data"));
    QCOMPARE(m_window->Text4[5]->text(), QStringLiteral("0"));
    QVERIFY(m_boxes.isEmpty());
}

void tst_frmNorvoPing::withoutPermission()
{
    WithoutRawCapability noRaw;
    if (!noRaw.isDropped())
        QSKIP("cannot change this thread's capabilities");
    {
        IcmpFile handle;
        if (handle)
            QSKIP("this user may open ICMP sockets even without cap_net_raw");
    }
    m_window->Text1->setText(QStringLiteral("127.0.0.1"));
    QTest::mouseClick(m_window->Command1, Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString::fromLatin1(EchoNotPermittedText));
    QCOMPARE(m_boxes[0].style, int(vbExclamation));
    QVERIFY(m_boxes[0].text.contains(QStringLiteral("net.ipv4.ping_group_range")));
    QVERIFY(m_boxes[0].text.contains(QStringLiteral("cap_net_raw")));
    // No "ip success" with zeros: the boxes stay as they were.
    for (auto *box : m_window->Text4)
        QCOMPARE(box->text(), QString());
}

QTEST_MAIN(tst_frmNorvoPing)
#include "tst_frmnorvoping.moc"

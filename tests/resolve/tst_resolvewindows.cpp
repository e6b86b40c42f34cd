#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "messagebox.h"
#include "resolvernamespace.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <arpa/inet.h>
#include <netdb.h>

#include <memory>

// What a press of "Find It" in each resolver window shows in Text2 and in message boxes,
// answered from the namespace's hosts file (see resolver-netns.sh).
class tst_ResolveWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void findIt_data();
    void findIt();
    void sortedLookupPutsAnotherAddressFirst();
    void hostWindowClosedDuringMessage();

private:
    QStringList m_messages; // "style|title|text" of each message box
};

void tst_ResolveWindows::init()
{
    m_messages.clear();
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_messages << QString::number(style) + QLatin1Char('|') + title + QLatin1Char('|') + text;
        return int(vbOK);
    });
}

void tst_ResolveWindows::findIt_data()
{
    QTest::addColumn<bool>("hostWindow"); // frmNorvoHost, else frmNorvoIP
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("needsNamespace");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QStringList>("messages");

    const QString longName = QString(200, 'l') + ".velmaric.test";
    const QString box = "0|" + applicationTitle() + '|'; // the application's title on OK-only boxes
    const QStringList invalid{box + "String passed is an invalid IP."};
    QTest::newRow("host: reverse entry")
        << true << "203.0.113.5" << true << "reverse.velmaric.test" << QStringList{};
    QTest::newRow("host: one of several lines")
        << true << "10.1.2.3" << true << "multi.velmaric.test" << QStringList{};
    QTest::newRow("host: long name whole")
        << true << "203.0.113.6" << true << longName << QStringList{};
    QTest::newRow("host: no entry") << true << "203.0.113.99" << true << ""
                                    << QStringList{box + "Call to gethostbyaddr failed."};
    QTest::newRow("host: name typed") << true << "reverse.velmaric.test" << false << "" << invalid;
    QTest::newRow("host: empty") << true << "" << false << "" << invalid;
    QTest::newRow("ip: first of several")
        << false << "multi.velmaric.test" << true << "192.0.2.7" << QStringList{};
    QTest::newRow("ip: not found")
        << false << "nothere.velmaric.test" << true << "" << QStringList{};
    QTest::newRow("ip: dotted text") << false << "10.9.8.7" << false << "10.9.8.7" << QStringList{};
    QTest::newRow("ip: empty") << false << "" << false << "" << QStringList{};
}

void tst_ResolveWindows::findIt()
{
    QFETCH(bool, hostWindow);
    QFETCH(QString, input);
    QFETCH(bool, needsNamespace);
    QFETCH(QString, text2);
    QFETCH(QStringList, messages);
    if (needsNamespace)
        REQUIRE_RESOLVER_NAMESPACE();

    const std::unique_ptr<ToolWindow> w(hostWindow ? static_cast<ToolWindow *>(new frmNorvoHost)
                                                   : new frmNorvoIP);
    w->load();
    w->show();
    w->findChild<QLineEdit *>("Text1")->setText(input);
    auto *result = w->findChild<QLineEdit *>("Text2");
    result->setText(QStringLiteral("from the press before"));
    w->findChild<QPushButton *>("Command1")->click();
    QCOMPARE(m_messages, messages);
    QCOMPARE(result->text(), text2);
}

// "first of several" above only proves the window keeps the listed order when the system's
// sorted look-up would put another address first.
void tst_ResolveWindows::sortedLookupPutsAnotherAddressFirst()
{
    REQUIRE_RESOLVER_NAMESPACE();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    QCOMPARE(getaddrinfo("multi.velmaric.test", nullptr, &hints, &list), 0);
    const QString first = inet_ntoa(reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr);
    freeaddrinfo(list);
    QVERIFY2(first != "192.0.2.7", qPrintable(first));
}

// A message box runs an event loop in which the window can go away; the press must then end
// without touching it.
void tst_ResolveWindows::hostWindowClosedDuringMessage()
{
    QPointer<frmNorvoHost> w = new frmNorvoHost;
    w->load();
    w->show();
    w->Text1->setText(QStringLiteral("not an address"));
    setMsgBoxHandler([&w](const QString &, int, const QString &) {
        delete w.data();
        return int(vbOK);
    });
    w->Command1_Click();
    QVERIFY(w.isNull());
}

RESOLVER_NAMESPACE_TEST_MAIN(tst_ResolveWindows, QApplication)
#include "tst_resolvewindows.moc"

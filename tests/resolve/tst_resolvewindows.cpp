#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "messagebox.h"
#include "resolvernamespace.h"
#include "twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace ResolverNamespace;

namespace {
// A message box as recorded; the resolver windows' boxes carry the application's title.
QString box(int style, const QString &text)
{
    return QString::number(style) + QLatin1Char('|') + applicationTitle() + QLatin1Char('|') + text;
}
} // namespace

// The two resolver windows as the Tools menu opens them: controls, captions, tab orders,
// and what each press of "Find It" shows in Text2 and in message boxes.
class TstResolveWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void frame_data();
    void frame();
    void controls_data();
    void controls();
    void tabOrder_data();
    void tabOrder();
    void hostWindow_data();
    void hostWindow();
    void ipWindow_data();
    void ipWindow();
    void hostWindowClosedDuringMessage();

private:
    ToolWindow *window(const QString &name) { return m_registry->show(name); }
    void recordMessages();

    std::unique_ptr<QMdiArea> m_area;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    QStringList m_messages; // "style|title|text" of each message box, in order
};

void TstResolveWindows::initTestCase()
{
    m_area = std::make_unique<QMdiArea>();
    m_area->resize(1000, 700);
    m_area->show();
    m_registry = std::make_unique<ToolWindowRegistry>(m_area.get());
    m_registry->registerFactory(QStringLiteral("frmNorvoHost"), [] { return new frmNorvoHost; });
    m_registry->registerFactory(QStringLiteral("frmNorvoIP"), [] { return new frmNorvoIP; });
    recordMessages();
}

void TstResolveWindows::recordMessages()
{
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_messages << QString::number(style) + QLatin1Char('|') + title + QLatin1Char('|') + text;
        return int(vbOK);
    });
}

void TstResolveWindows::init() { m_messages.clear(); }

void TstResolveWindows::cleanupTestCase()
{
    setMsgBoxHandler({});
    m_registry.reset();
    m_area.reset();
}

void TstResolveWindows::frame_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("clientTwips");
    QTest::newRow("host name") << "frmNorvoHost" << "Resolve Host Name" << QSize(4680, 1545);
    QTest::newRow("ip address") << "frmNorvoIP" << "Resolve IP Address " << QSize(4680, 1515);
}

void TstResolveWindows::frame()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QSize, clientTwips);
    ToolWindow *w = window(name);
    QVERIFY(w);
    QCOMPARE(w->metaObject()->className(), name);
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(w->size(), Twips::size(clientTwips.width(), clientTwips.height()));
    QVERIFY(!w->isSizable());
}

void TstResolveWindows::controls_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("host Label1") << "frmNorvoHost" << "Label1" << "QLabel" << "IP Address :" << QRect(225, 180, 1800, 240);
    QTest::newRow("host Text1") << "frmNorvoHost" << "Text1" << "QLineEdit" << "" << QRect(2370, 180, 2160, 345);
    QTest::newRow("host Label2") << "frmNorvoHost" << "Label2" << "QLabel" << "Host Name : " << QRect(225, 735, 1890, 225);
    QTest::newRow("host Text2") << "frmNorvoHost" << "Text2" << "QLineEdit" << "" << QRect(2370, 630, 2160, 330);
    QTest::newRow("host Command1") << "frmNorvoHost" << "Command1" << "QPushButton" << "Find It" << QRect(3585, 1110, 900, 330);
    QTest::newRow("ip Label1") << "frmNorvoIP" << "Label1" << "QLabel" << "WWW Address : " << QRect(300, 150, 1395, 240);
    QTest::newRow("ip Text1") << "frmNorvoIP" << "Text1" << "QLineEdit" << "" << QRect(2190, 150, 2175, 315);
    QTest::newRow("ip Label2") << "frmNorvoIP" << "Label2" << "QLabel" << "Resolved IP Address: " << QRect(300, 675, 1590, 225);
    QTest::newRow("ip Text2") << "frmNorvoIP" << "Text2" << "QLineEdit" << "" << QRect(2175, 570, 2175, 330);
    QTest::newRow("ip Command1") << "frmNorvoIP" << "Command1" << "QPushButton" << "Find It" << QRect(3075, 1050, 1515, 375);
}

void TstResolveWindows::controls()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, twips);

    auto *c = this->window(window)->findChild<QWidget *>(control);
    QVERIFY(c);
    QVERIFY(c->inherits(kind.toLatin1().constData()));
    QString shown;
    if (auto *l = qobject_cast<QLabel *>(c))
        shown = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(c))
        shown = e->text();
    else if (auto *b = qobject_cast<QPushButton *>(c))
        shown = b->text();
    QCOMPARE(shown, text);
    QCOMPARE(c->geometry(), Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
}

void TstResolveWindows::tabOrder_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("host") << "frmNorvoHost" << QStringList{"Command1", "Text1", "Text2"};
    QTest::newRow("ip") << "frmNorvoIP" << QStringList{"Text1", "Text2", "Command1"};
}

void TstResolveWindows::tabOrder()
{
    QFETCH(QString, window);
    QFETCH(QStringList, order);
    ToolWindow *w = this->window(window);
    QWidget *first = w->findChild<QWidget *>(order.first());
    QVERIFY(first);
    QCOMPARE(w->focusWidget(), first); // the window opens with the first control focused
    QStringList seen{first->objectName()};
    for (QWidget *next = first->nextInFocusChain(); next != first && seen.size() < 50;
         next = next->nextInFocusChain())
        if (next->parentWidget() == w && (next->focusPolicy() & Qt::TabFocus))
            seen << next->objectName();
    QCOMPARE(seen, order);
}

void TstResolveWindows::hostWindow_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("needsNamespace");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QStringList>("messages");

    const QString invalid = box(0, QStringLiteral("String passed is an invalid IP."));
    QTest::newRow("reverse entry") << ReverseAddress << true << ReverseName << QStringList{};
    QTest::newRow("one of several lines") << MultiAddresses[2] << true << MultiName << QStringList{};
    QTest::newRow("no entry") << UnknownAddress << true << "" << QStringList{box(0, "Call to gethostbyaddr failed.")};
    QTest::newRow("all ones") << "255.255.255.255" << false << "" << QStringList{invalid};
    QTest::newRow("host name typed") << ReverseName << false << "" << QStringList{invalid};
    QTest::newRow("empty") << "" << false << "" << QStringList{invalid};
    QTest::newRow("two parts") << "10.1" << false << "" << QStringList{invalid};
}

void TstResolveWindows::hostWindow()
{
    QFETCH(QString, input);
    QFETCH(bool, needsNamespace);
    QFETCH(QString, text2);
    QFETCH(QStringList, messages);
    if (needsNamespace)
        REQUIRE_RESOLVER_NAMESPACE();

    auto *w = m_registry->show<frmNorvoHost>();
    QVERIFY(w);
    w->Text1->setText(input);
    w->Text2->setText(QStringLiteral("from the press before"));
    w->Command1->click();
    QCOMPARE(m_messages, messages);
    QCOMPARE(w->Text2->text(), text2);
    QCOMPARE(w->Text1->text(), input);
}

void TstResolveWindows::ipWindow_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("needsNamespace");
    QTest::addColumn<QString>("text2");

    QTest::newRow("first of several addresses") << MultiName << true << MultiAddresses[0];
    QTest::newRow("alias") << MultiAlias << true << MultiAddresses[0];
    QTest::newRow("one address") << ReverseName << true << ReverseAddress;
    QTest::newRow("not found") << UnknownName << true << "";
    QTest::newRow("dotted text") << "10.9.8.7" << false << "10.9.8.7";
    QTest::newRow("empty") << "" << false << "";
}

void TstResolveWindows::ipWindow()
{
    QFETCH(QString, input);
    QFETCH(bool, needsNamespace);
    QFETCH(QString, text2);
    if (needsNamespace)
        REQUIRE_RESOLVER_NAMESPACE();

    auto *w = m_registry->show<frmNorvoIP>();
    QVERIFY(w);
    w->Text1->setText(input);
    w->Text2->setText(QStringLiteral("from the press before"));
    w->Command1->click();
    QCOMPARE(m_messages, QStringList{}); // this window never shows a message
    QCOMPARE(w->Text2->text(), text2);
}

// A message box runs an event loop in which the window can go away; the press must then end
// without touching it.
void TstResolveWindows::hostWindowClosedDuringMessage()
{
    QPointer<frmNorvoHost> w = new frmNorvoHost;
    w->load();
    w->show();
    w->Text1->setText(QStringLiteral("not an address"));
    setMsgBoxHandler([&w, this](const QString &text, int style, const QString &title) {
        m_messages << QString::number(style) + QLatin1Char('|') + title + QLatin1Char('|') + text;
        delete w.data();
        return int(vbOK);
    });
    w->Command1_Click();
    QVERIFY(w.isNull());
    QCOMPARE(m_messages, QStringList{box(0, "String passed is an invalid IP.")});
    recordMessages();
}

RESOLVER_NAMESPACE_TEST_MAIN(TstResolveWindows, QApplication)
#include "tst_resolvewindows.moc"

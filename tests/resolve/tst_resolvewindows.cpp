#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "messagebox.h"
#include "resolvernamespace.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

// What a press of "Find It" in each resolver window shows in Text2 and in message boxes, and
// what velmaric-cli resolve and reverse print and return, answered from the namespace's hosts
// file (see resolver-netns.sh).
class tst_ResolveWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_shown.clear();
        setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
            // Every box here has an OK button only and the application's title.
            m_shown << (style == vbOKOnly && title == applicationTitle() ? text
                                                                         : "odd box: " + text);
            return int(vbOK);
        });
    }
    void findIt_data();
    void findIt();
    void hostWindowClosedDuringMessage();
    void commandLine_data();
    void commandLine();

private:
    QStringList m_shown; // Text2, then the text of each message box
};

void tst_ResolveWindows::findIt_data()
{
    QTest::addColumn<bool>("hostWindow"); // frmNorvoHost, else frmNorvoIP
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown");
    const QString invalid = "|String passed is an invalid IP.";
    const struct {
        const char *window, *input;
        QString shown;
    } rows[] = {{"host", "203.0.113.5", "reverse.velmaric.test"},
                {"host", "10.1.2.3", "multi.velmaric.test"}, // one of several lines
                {"host", "203.0.113.6", QString(200, 'l') + ".velmaric.test"},
                {"host", "203.0.113.99", "|Call to gethostbyaddr failed."},
                {"host", "reverse.velmaric.test", invalid},
                {"host", "", invalid},
                // Listed first, where the system's sorted look-up puts 127.0.0.9 first.
                {"ip", "multi.velmaric.test", "192.0.2.7"},
                {"ip", "nothere.velmaric.test", ""},
                {"ip", "10.9.8.7", "10.9.8.7"},
                {"ip", "", ""}};
    for (const auto &r : rows)
        QTest::addRow("%s: '%s'", r.window, r.input) << (r.window[0] == 'h') << r.input << r.shown;
}

void tst_ResolveWindows::findIt()
{
    QFETCH(bool, hostWindow);
    QFETCH(QString, input);
    if (input.contains('.')) // names and addresses come from the namespace's hosts file
        REQUIRE_RESOLVER_NAMESPACE();
    const std::unique_ptr<ToolWindow> w(hostWindow ? static_cast<ToolWindow *>(new frmNorvoHost)
                                                   : new frmNorvoIP);
    w->load();
    w->show();
    w->findChild<QLineEdit *>("Text1")->setText(input);
    auto *result = w->findChild<QLineEdit *>("Text2");
    result->setText(QStringLiteral("from the press before"));
    w->findChild<QPushButton *>("Command1")->click();
    m_shown.prepend(result->text());
    QTEST(m_shown.join('|'), "shown");
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

void tst_ResolveWindows::commandLine_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a line the error output must contain; empty: no output
    const struct {
        const char *args, *out;
        int exitCode;
        const char *err;
    } rows[] = {
        {"resolve multi.velmaric.test", "192.0.2.7\n", 0, ""},
        {"resolve nothere.velmaric.test", "", 1, "host name 'nothere.velmaric.test' not found"},
        {"resolve", "", 2, "Usage: velmaric-cli resolve NAME"},
        {"resolve a b", "", 2, "Usage: velmaric-cli resolve NAME"},
        {"reverse 203.0.113.5", "reverse.velmaric.test\n", 0, ""},
        {"reverse 203.0.113.99", "", 1, "Call to gethostbyaddr failed."},
        {"reverse reverse.velmaric.test", "", 1, "String passed is an invalid IP."},
        {"reverse", "", 2, "Usage: velmaric-cli reverse ADDRESS"}};
    for (const auto &r : rows)
        QTest::newRow(r.args) << r.exitCode << r.out << r.err;
}

void tst_ResolveWindows::commandLine()
{
    QFETCH(QString, err);
    const QString args = QTest::currentDataTag();
    if (args.contains('.')) // names and addresses come from the namespace's hosts file
        REQUIRE_RESOLVER_NAMESPACE();
    QProcess cli;
    cli.start(QStringLiteral(VELMARIC_CLI_PATH), args.split(' '));
    QVERIFY2(cli.waitForFinished(30000), "velmaric-cli did not finish");
    const QString stdErr = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QTEST(cli.exitCode(), "exitCode");
    QTEST(QString::fromLocal8Bit(cli.readAllStandardOutput()), "out");
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
}

RESOLVER_NAMESPACE_TEST_MAIN(tst_ResolveWindows, QApplication)
#include "tst_resolvewindows.moc"

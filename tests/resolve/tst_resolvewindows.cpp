#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "msgboxrecorder.h"
#include "resolvernamespace.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// What a press of "Find It" in each resolver window shows in Text2 and in message boxes, and
// what velmaric-cli resolve and reverse return and print for the same input, answered from
// the namespace's hosts file (see resolver-netns.sh).
class tst_ResolveWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_boxes.reset(); }
    void findIt_data()
    {
        // frmNorvoHost and `velmaric-cli reverse`, else frmNorvoIP and `velmaric-cli resolve`
        QTest::addColumn<bool>("hostWindow");
        QTest::addColumn<QString>("input"); // the command line's arguments split at blanks
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("cli"); // exit code, output, error output
        const QString invalid = "String passed is an invalid IP.",
                      longName = QString(200, 'l') + ".velmaric.test";
        const struct {
            const char *window, *input;
            QString shown, cli;
        } rows[] = {{"host", "203.0.113.5", "reverse.velmaric.test", "0|reverse.velmaric.test|"},
                    // One of several lines, and a name long beyond a fixed buffer.
                    {"host", "10.1.2.3", "multi.velmaric.test", "0|multi.velmaric.test|"},
                    {"host", "203.0.113.6", longName, "0|" + longName + '|'},
                    {"host", "203.0.113.99", "|Call to gethostbyaddr failed.",
                     "1||Call to gethostbyaddr failed."},
                    {"host", "reverse.velmaric.test", '|' + invalid, "1||" + invalid},
                    {"host", "", '|' + invalid, "2||Usage: velmaric-cli reverse ADDRESS"},
                    // Listed first, where the system's sorted look-up puts 127.0.0.9 first.
                    {"ip", "multi.velmaric.test", "192.0.2.7", "0|192.0.2.7|"},
                    {"ip", "nothere.velmaric.test", "",
                     "1||velmaric-cli: host name 'nothere.velmaric.test' not found"},
                    {"ip", "10.9.8.7", "10.9.8.7", "0|10.9.8.7|"},
                    {"ip", "a b", "", "2||Usage: velmaric-cli resolve [--all] NAME"},
                    {"ip", "", "", "2||Usage: velmaric-cli resolve [--all] NAME"}};
        for (const auto &r : rows)
            QTest::addRow("%s: '%s'", r.window, r.input)
                << (r.window[0] == 'h') << r.input << r.shown << r.cli;
    }

    void findIt()
    {
        QFETCH(bool, hostWindow);
        QFETCH(QString, input);
        if (!input.isEmpty()) // look-ups are answered from the namespace's hosts file only
            REQUIRE_RESOLVER_NAMESPACE();
        const std::unique_ptr<ToolWindow> w(hostWindow ? static_cast<ToolWindow *>(new frmNorvoHost)
                                                       : new frmNorvoIP);
        w->load();
        w->show();
        w->findChild<QLineEdit *>("Text1")->setText(input);
        auto *result = w->findChild<QLineEdit *>("Text2");
        result->setText(QStringLiteral("from the press before"));
        QSignalSpy ended(w.get(), SIGNAL(lookupEnded())); // both windows have it
        w->findChild<QPushButton *>("Command1")->click();
        QVERIFY(ended.wait(10000));
        // Every box here has an OK button only and the application's title.
        QStringList shown{result->text()};
        for (const MsgBoxRecorder::Box &box : m_boxes.boxes)
            shown << (box.style == vbOKOnly && box.title == applicationTitle()
                          ? box.text
                          : "odd box: " + box.text);
        QTEST(shown.join('|'), "shown");

        QTEST(cli(QStringList(hostWindow ? "reverse" : "resolve") +
                  input.split(' ', Qt::SkipEmptyParts)),
              "cli");
    }

    // Beyond the windows: every address of both families in the listed order, IPv6 reverse.
    void commandLineOnly_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("cli"); // exit code, output, error output
        const char *rows[][3] = {
            {"all of several", "resolve --all multi.velmaric.test",
             "0|2001:db8::7\n192.0.2.7\n127.0.0.9\n10.1.2.3|"},
            {"all, IPv6 only", "resolve --all six.velmaric.test", "0|2001:db8::6|"},
            {"all of none", "resolve --all nothere.velmaric.test",
             "1||velmaric-cli: host name 'nothere.velmaric.test' not found"},
            {"IPv6 reverse", "reverse 2001:db8::6", "0|six.velmaric.test|"},
            {"IPv6 without name", "reverse 2001:db8::99",
             "1||velmaric-cli: no host name for 2001:db8::99"},
            {"bad IPv6 text", "reverse 2001:db8:::1", "1||String passed is an invalid IP."}};
        for (const auto &[name, args, cli] : rows)
            QTest::newRow(name) << QString(args) << QString(cli);
    }
    void commandLineOnly()
    {
        QFETCH(QString, args);
        REQUIRE_RESOLVER_NAMESPACE();
        QTEST(cli(args.split(' ')), "cli");
    }

    // A message box runs an event loop in which the window can go away; the press must then end
    // without touching it.
    void hostWindowClosedDuringMessage()
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
        QTRY_VERIFY(w.isNull());
    }

private:
    // velmaric-cli's exit code, output and error output; a crash or hang shows as "crashed".
    static QString cli(const QStringList &args)
    {
        QProcess p;
        p.start(VELMARIC_CLI_PATH, args);
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
            return QStringLiteral("crashed");
        return QStringLiteral("%1|%2|%3")
            .arg(p.exitCode())
            .arg(QString(p.readAllStandardOutput()).trimmed(),
                 QString(p.readAllStandardError()).trimmed());
    }
    MsgBoxRecorder m_boxes;
};

RESOLVER_NAMESPACE_TEST_MAIN(tst_ResolveWindows, QApplication)
#include "tst_resolvewindows.moc"

#include "module3.h"

#include <QtTest>

// The reverse look-up's start-up, clean-up and look-up failures (the socket layer fails where a
// row says; the platform never reports these): the messages in order as "style:text", the
// name, and one clean-up exactly when start-up worked.
class tst_Module3 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void failures_data();
    void failures();
};

void tst_Module3::failures_data()
{
    QTest::addColumn<QString>("ipText");
    QTest::addColumn<int>("startup");   // WSAStartup result
    QTest::addColumn<int>("cleanup");   // WSACleanup result
    QTest::addColumn<QString>("entry"); // the name found; a null string means no entry
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("messages");

    const QString invalid = "0:String passed is an invalid IP.";
    const QString cleanupFailed = "48:Windows Sockets error occurred in Cleanup.";
    QTest::newRow("sockets fail") << "203.0.113.5" << 10091 << 10093 << "r"
                                  << "" << QStringList{"0:Sockets failed to initialize."};
    QTest::newRow("found, clean-up fails") << "203.0.113.5" << 0 << 10093 << "r"
                                           << "r" << QStringList{cleanupFailed};
    QTest::newRow("invalid, clean-up fails") << "1.2" << 0 << 10093 << "r"
                                             << "" << QStringList{invalid, cleanupFailed};
    QTest::newRow("no entry, clean-up fails")
        << "203.0.113.99" << 0 << 10093 << QString() << ""
        << QStringList{"0:Call to gethostbyaddr failed.", cleanupFailed};
    QTest::newRow("entry without a name") << "203.0.113.7" << 0 << 0 << ""
                                          << "" << QStringList{};
}

void tst_Module3::failures()
{
    QFETCH(QString, ipText);
    QFETCH(int, startup);
    QFETCH(int, cleanup);
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QFETCH(QStringList, messages);

    int cleanups = 0;
    Module3::SocketLayer layer;
    layer.startup = [&](uint16_t) { return startup; };
    layer.cleanup = [&] {
        ++cleanups;
        return cleanup;
    };
    layer.hostByAddress = [&](uint32_t a) -> std::optional<winsock::HostEntry> {
        if (entry.isNull())
            return std::nullopt;
        return winsock::HostEntry{entry.toStdString(), {a}};
    };
    QStringList shown;
    const std::string found = Module3::IPTextToHostName(
        ipText.toStdString(),
        [&](const std::string &text, int style) {
            shown << QString::number(style) + ':' + QString::fromStdString(text);
        },
        layer);
    QCOMPARE(shown, messages);
    QCOMPARE(QString::fromStdString(found), name);
    QCOMPARE(cleanups, startup == 0 ? 1 : 0);
}

QTEST_GUILESS_MAIN(tst_Module3)
#include "tst_module3.moc"

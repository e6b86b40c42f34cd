#include "resolvernamespace.h"

#include <QtTest>

// velmaric-cli resolve and reverse: what goes to each stream and the exit code.
class tst_CliResolve : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commands_data();
    void commands();
};

void tst_CliResolve::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("needsNamespace");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a line the error output must contain; empty: no output

    QTest::newRow("resolve, first of several")
        << QStringList{"resolve", "multi.velmaric.test"} << true << 0 << "192.0.2.7\n"
        << "";
    QTest::newRow("resolve, not found")
        << QStringList{"resolve", "nothere.velmaric.test"} << true << 1 << ""
        << "host name 'nothere.velmaric.test' not found";
    QTest::newRow("resolve, no name") << QStringList{"resolve"} << false << 2 << ""
                                      << "Usage: velmaric-cli resolve NAME";
    QTest::newRow("resolve, two names") << QStringList{"resolve", "a", "b"} << false << 2 << ""
                                        << "Usage: velmaric-cli resolve NAME";
    QTest::newRow("reverse, entry")
        << QStringList{"reverse", "203.0.113.5"} << true << 0 << "reverse.velmaric.test\n"
        << "";
    QTest::newRow("reverse, no entry") << QStringList{"reverse", "203.0.113.99"} << true << 1 << ""
                                       << "Call to gethostbyaddr failed.";
    QTest::newRow("reverse, host name")
        << QStringList{"reverse", "reverse.velmaric.test"} << false << 1 << ""
        << "String passed is an invalid IP.";
    QTest::newRow("reverse, no address") << QStringList{"reverse"} << false << 2 << ""
                                         << "Usage: velmaric-cli reverse ADDRESS";
}

void tst_CliResolve::commands()
{
    QFETCH(QStringList, args);
    QFETCH(bool, needsNamespace);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    if (needsNamespace)
        REQUIRE_RESOLVER_NAMESPACE();

    QProcess cli;
    cli.start(QStringLiteral(VELMARIC_CLI_PATH), args);
    QVERIFY2(cli.waitForFinished(30000), "velmaric-cli did not finish");
    const QString stdErr = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(cli.readAllStandardOutput()), out);
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
}

RESOLVER_NAMESPACE_TEST_MAIN(tst_CliResolve, QCoreApplication)
#include "tst_cliresolve.moc"

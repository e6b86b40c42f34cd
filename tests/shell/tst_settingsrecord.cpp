#include "settingsrecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_SettingsRecord : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    static void writeFile(const QByteArray &bytes)
    {
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static QByteArray record(const QByteArray &home, int16_t allow, int16_t use,
                             int16_t reserved = 0)
    {
        SettingsRecord r;
        r.HomePage = QString::fromLatin1(home);
        r.AllowPopUps = allow;
        r.UseStoredSettings = use;
        r.Reserved = reserved;
        return r.toBytes();
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QFile::remove(QString::fromLatin1(SettingsFileName));
    }

    void absentFileIsCreatedEmptyAndReadsAllZero()
    {
        g_settingsRecord.UseStoredSettings = 7;
        ReadSettingsRecord();
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(f.exists());
        QCOMPARE(f.size(), 0);
        QCOMPARE(g_settingsRecord.HomePage, QString(40, QChar(0)));
        QCOMPARE(g_settingsRecord.AllowPopUps, 0);
        QCOMPARE(g_settingsRecord.UseStoredSettings, 0);
        QCOMPARE(g_settingsRecord.Reserved, 0);
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("home");
        QTest::addColumn<int>("allow");
        QTest::addColumn<int>("use");

        const QByteArray padded = "http://127.0.0.1:8080/start.html        ";
        QTest::newRow("in force, pop-ups allowed, blanks kept")
            << record(padded, -1, -1) << QString::fromLatin1(padded) << -1 << -1;
        QTest::newRow("pop-ups 1 is not true")
            << record(padded, 1, -1) << QString::fromLatin1(padded) << 1 << -1;
        QTest::newRow("use stored 0, short text")
            << record("a", -1, 0) << QStringLiteral("a").leftJustified(40) << -1 << 0;
        QTest::newRow("all zero") << QByteArray(46, '\0') << QString(40, QChar(0)) << 0 << 0;

        QByteArray big = record(padded, -1, -1, 5);
        big.append(QByteArray(154, '\xFF'));
        QTest::newRow("200-byte file, tail ignored")
            << big << QString::fromLatin1(padded) << -1 << -1;

        QByteArray shortFile = QByteArray(40, 'x') + QByteArray("\xFF\xFF\xFF", 3);
        QTest::newRow("short file zero-padded")
            << shortFile << QString(40, QChar(u'x')) << -1 << 0x00FF;

        const QByteArray text = "[Settings]\nHomePage=http://example.com/\nAllowPopUps=1\n";
        QTest::newRow("text file taken as bytes") << text << QString::fromLatin1(text.left(40))
                                                  << int(int16_t(0x6C41)) << int(int16_t(0x6F6C));
    }
    void fields()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, home);
        QFETCH(int, allow);
        QFETCH(int, use);
        writeFile(bytes);
        ReadSettingsRecord();
        QCOMPARE(g_settingsRecord.HomePage, home);
        QCOMPARE(g_settingsRecord.HomePage.size(), 40);
        QCOMPARE(int(g_settingsRecord.AllowPopUps), allow);
        QCOMPARE(int(g_settingsRecord.UseStoredSettings), use);
        // Reading never changes the file.
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);
    }

    void unreadablePlaceCountsAsZero()
    {
        // A directory where the file should be cannot be read as a record.
        QVERIFY(QDir().mkdir(QString::fromLatin1(SettingsFileName)));
        g_settingsRecord.UseStoredSettings = -1;
        ReadSettingsRecord();
        QCOMPARE(g_settingsRecord.UseStoredSettings, 0);
        QVERIFY(QDir().rmdir(QString::fromLatin1(SettingsFileName)));
    }
};

QTEST_GUILESS_MAIN(tst_SettingsRecord)
#include "tst_settingsrecord.moc"

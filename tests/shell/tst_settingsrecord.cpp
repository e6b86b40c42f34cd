#include "settingsrecord.h"

#include <QtTest>

class tst_SettingsRecord : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QFile::remove(QString::fromLatin1(SettingsFileName));
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file, which is then created empty
        QTest::addColumn<QString>("home");
        QTest::addColumn<int>("allow");
        QTest::addColumn<int>("use");
        const QByteArray padded = "http://127.0.0.1:8080/start.html        ";
        const QByteArray inForce = padded + QByteArray("\xFF\xFF\xFF\xFF\x05\x00", 6);
        QTest::newRow("absent") << QByteArray() << QString(40, QChar(0)) << 0 << 0;
        QTest::newRow("in force, pop-ups allowed, blanks kept")
            << inForce << QString::fromLatin1(padded) << -1 << -1;
        QTest::newRow("200-byte file, tail ignored")
            << inForce + QByteArray(154, '\xFF') << QString::fromLatin1(padded) << -1 << -1;
        QTest::newRow("short file zero-padded")
            << QByteArray(40, 'x') + "\xFF\xFF\xFF" << QString(40, QChar(u'x')) << -1 << 0x00FF;
        const QByteArray text = "[Settings]\nHomePage=http://example.com/\nAllowPopUps=1\n";
        QTest::newRow("text file taken as bytes") << text << QString::fromLatin1(text.left(40))
                                                  << int(int16_t(0x6C41)) << int(int16_t(0x6F6C));
    }
    void fields()
    {
        QFETCH(QByteArray, bytes);
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        f.close();
        g_settingsRecord.UseStoredSettings = 7;
        ReadSettingsRecord();
        QTEST(g_settingsRecord.HomePage, "home");
        QTEST(int(g_settingsRecord.AllowPopUps), "allow");
        QTEST(int(g_settingsRecord.UseStoredSettings), "use");
        // Reading never changes the file.
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

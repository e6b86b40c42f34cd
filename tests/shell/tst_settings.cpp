// The suite's two settings stores: the settings record file and the per-user settings.
#include "fulldisk.h"
#include "settingsrecord.h"
#include "usersettings.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_Settings : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    static QString get(const QString &key)
    {
        return UserSettings::GetSetting("Velmaric", "Settings", key, "d");
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QFile::remove(QString::fromLatin1(SettingsFileName));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        QDir(UserSettings::directory()).removeRecursively();
    }

    // The settings record norvo.ini, read as the bytes it holds.
    void recordFields_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file, which is then created empty
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<int>("allow");
        QTest::addColumn<int>("use");
        const QByteArray padded = "http://127.0.0.1:8080/start.html        ";
        const QByteArray inForce = padded + QByteArray("\xFF\xFF\xFF\xFF\x05\x00", 6);
        QTest::newRow("absent") << QByteArray() << QByteArray(40, '\0') << 0 << 0;
        QTest::newRow("in force, allowed, blanks kept") << inForce << padded << -1 << -1;
        QTest::newRow("200 bytes, tail ignored")
            << inForce + QByteArray(154, 'x') << padded << -1 << -1;
        const QByteArray xs(40, 'x');
        QTest::newRow("short file zero-padded") << xs + "\xFF\xFF\xFF" << xs << -1 << 0x00FF;
        const QByteArray text = "[Settings]\nHomePage=http://example.com/\nAllowPopUps=1\n";
        QTest::newRow("text taken as bytes") << text << text.left(40) << 0x6C41 << 0x6F6C;
    }
    void recordFields()
    {
        QFETCH(QByteArray, bytes);
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        f.close();
        g_settingsRecord.UseStoredSettings = 7;
        ReadSettingsRecord();
        QTEST(g_settingsRecord.HomePage.toLatin1(), "home");
        QTEST(int(g_settingsRecord.AllowPopUps), "allow");
        QTEST(int(g_settingsRecord.UseStoredSettings), "use");
        // Reading never changes the file.
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);
    }

    void recordInAnUnreadablePlaceCountsAsZero()
    {
        // A directory where the file should be cannot be read as a record.
        QVERIFY(QDir().mkdir(QString::fromLatin1(SettingsFileName)));
        g_settingsRecord.UseStoredSettings = -1;
        ReadSettingsRecord();
        QCOMPARE(g_settingsRecord.UseStoredSettings, 0);
        QVERIFY(QDir().rmdir(QString::fromLatin1(SettingsFileName)));
    }

    // Per-user settings: values come back as written, and other sections and applications keep
    // theirs (other keys: see the concurrent writers).
    void writeThenReadBack_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("number") << QStringLiteral("1000");
        QTest::newRow("blanks kept") << QStringLiteral("  padded  ");
        QTest::newRow("line breaks and backslashes") << QStringLiteral("a\\b\nc\r\\n");
        QTest::newRow("equals and brackets") << QStringLiteral("[x]=y;z");
        QTest::newRow("non-latin") << QStringLiteral("Musik/Ärger ♫");
        QTest::newRow("empty") << QString();
    }
    void writeThenReadBack()
    {
        QFETCH(QString, value);
        // An absent key reads as the default, without writing anything, where the user's
        // configuration lives.
        QCOMPARE(get("MainLeft"), QStringLiteral("d"));
        QVERIFY(!QFile::exists(UserSettings::filePath("Velmaric")));
        QVERIFY(UserSettings::filePath("Velmaric").startsWith(m_dir.path() + "/velmaric/"));
        const QStringList others[] = {{"Velmaric", "Other", "MainLeft"},
                                      {"NorvoAudio", "Settings", "MainLeft"}};
        for (const QStringList &o : others)
            QVERIFY(UserSettings::SaveSetting(o[0], o[1], o[2], o.join(u'/')));
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", value));
        QCOMPARE(get("MainLeft"), value);
        for (const QStringList &o : others)
            QCOMPARE(UserSettings::GetSetting(o[0], o[1], o[2]), o.join(u'/'));
    }

    void keysAndSectionsIgnoreCase()
    {
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "Startup", "BackColor", "1"));
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "startup", "Backcolor", "2"));
        QCOMPARE(UserSettings::GetSetting("NorvoAudio", "STARTUP", "BACKCOLOR"),
                 QStringLiteral("2"));
        QFile f(UserSettings::filePath("NorvoAudio"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[Startup]\nBackcolor=2\n")); // one key, not two
    }

    void corruptFileKeepsWhatItCanAndIsRepaired()
    {
        QVERIFY(QDir().mkpath(UserSettings::directory()));
        QFile f(UserSettings::filePath("Velmaric"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1, '\0') + "\xFF\xFE garbage\nno section=1\n[Settings\n[Settings]\n"
                                      "MainTop=77\n=nokey\njunk line\n");
        f.close();
        QCOMPARE(get("MainTop") + get("MainLeft"), QStringLiteral("77d"));
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", "5"));
        QCOMPARE(get("MainTop") + get("MainLeft"), QStringLiteral("775"));
    }

    // Instances saving at once each read, change and write the whole file.
    void concurrentWritersKeepEveryKey()
    {
        const auto key = [](int w, int k) { return QStringLiteral("W%1K%2").arg(w).arg(k); };
        std::atomic<int> failed{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w)
            writers.emplace_back([&, w] {
                for (int k = 0; k < 20; ++k)
                    failed += !UserSettings::SaveSetting("Velmaric", "Settings", key(w, k), "1");
            });
        for (std::thread &t : writers)
            t.join();
        QCOMPARE(failed.load(), 0);
        for (int w = 0; w < 4; ++w)
            for (int k = 0; k < 20; ++k)
                QCOMPARE(get(key(w, k)), QStringLiteral("1"));
    }

    void fullDiskKeepsTheOldFile()
    {
        // Room for the lock file but not for the longer new text: a short write.
        const QString old(4000, u'x');
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", old));
        {
            const FullDisk full(QFileInfo(UserSettings::filePath("Velmaric")).size());
            QVERIFY(!UserSettings::SaveSetting("Velmaric", "Settings", "MainTop", "20"));
        }
        QCOMPARE(get("MainLeft"), old);
        QCOMPARE(QDir(UserSettings::directory()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"

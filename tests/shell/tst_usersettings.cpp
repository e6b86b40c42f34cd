#include "fulldisk.h"
#include "usersettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_UserSettings : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        QDir(UserSettings::directory()).removeRecursively();
    }

    void defaultsForAbsentKeys()
    {
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainLeft", "1000"),
                 QStringLiteral("1000"));
        QVERIFY(!QFile::exists(UserSettings::filePath("Velmaric"))); // reading writes nothing
        QVERIFY(UserSettings::filePath("Velmaric").startsWith(m_dir.path() + "/velmaric/"));
    }

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
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "Startup", "LastEntry", value));
        QCOMPARE(UserSettings::GetSetting("NorvoAudio", "Startup", "LastEntry", "default"), value);
    }

    void keysAndSectionsIgnoreCase()
    {
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "Startup", "BackColor", "1"));
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "startup", "Backcolor", "2"));
        QCOMPARE(UserSettings::GetSetting("NorvoAudio", "STARTUP", "BACKCOLOR"),
                 QStringLiteral("2"));
        QFile f(UserSettings::filePath("NorvoAudio"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text.count("ackcolor=") + text.count("ackColor="), 1); // one key, not two
        QVERIFY(text.contains("Backcolor=2"));
        QCOMPARE(text.count('['), 1);
    }

    void otherKeysAndApplicationsUntouched()
    {
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", "10"));
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainTop", "20"));
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Other", "MainLeft", "30"));
        QVERIFY(UserSettings::SaveSetting("NorvoAudio", "Settings", "MainLeft", "40"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainLeft"),
                 QStringLiteral("10"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainTop"), QStringLiteral("20"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Other", "MainLeft"), QStringLiteral("30"));
        QCOMPARE(UserSettings::GetSetting("NorvoAudio", "Settings", "MainLeft"),
                 QStringLiteral("40"));
    }

    void corruptFileKeepsWhatItCanAndIsRepaired()
    {
        QVERIFY(QDir().mkpath(UserSettings::directory()));
        QFile f(UserSettings::filePath("Velmaric"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\x00\xFF\xFE garbage\nno "
                           "section=1\n[Settings\n[Settings]\nMainTop=77\n=nokey\njunk line\n",
                           72));
        f.close();
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainTop", "d"),
                 QStringLiteral("77"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainLeft", "d"),
                 QStringLiteral("d"));
        QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", "5"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainTop", "d"),
                 QStringLiteral("77"));
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainLeft", "d"),
                 QStringLiteral("5"));
    }

    void concurrentWritersKeepEveryKey()
    {
        // Instances saving at once each read, change and write the whole file.
        std::atomic<int> failed{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w)
            writers.emplace_back([w, &failed] {
                for (int k = 0; k < 20; ++k)
                    failed += !UserSettings::SaveSetting(
                        "Velmaric", "Settings", QStringLiteral("W%1K%2").arg(w).arg(k), "1");
            });
        for (std::thread &t : writers)
            t.join();
        QCOMPARE(failed.load(), 0);
        for (int w = 0; w < 4; ++w)
            for (int k = 0; k < 20; ++k)
                QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings",
                                                  QStringLiteral("W%1K%2").arg(w).arg(k)),
                         "1");
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
        QCOMPARE(UserSettings::GetSetting("Velmaric", "Settings", "MainLeft"), old);
        QCOMPARE(QDir(UserSettings::directory()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_UserSettings)
#include "tst_usersettings.moc"

#include "usersettings.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_UserSettings : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    static QString get(const QString &key, const QString &def = QStringLiteral("d"))
    {
        return UserSettings::GetSetting("Velmaric", "Settings", key, def);
    }

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        QDir(UserSettings::directory()).removeRecursively();
    }

    void defaultsForAbsentKeys()
    {
        QCOMPARE(get("MainLeft", "1000"), QStringLiteral("1000"));
        QVERIFY(!QFile::exists(UserSettings::filePath("Velmaric"))); // reading writes nothing
        QVERIFY(UserSettings::filePath("Velmaric").startsWith(m_dir.path() + "/velmaric/"));
    }

    // Values come back as written, and other keys, sections and applications keep theirs.
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
        const QStringList others[] = {{"Velmaric", "Settings", "MainTop"},
                                      {"Velmaric", "Other", "MainLeft"},
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
};

QTEST_GUILESS_MAIN(tst_UserSettings)
#include "tst_usersettings.moc"

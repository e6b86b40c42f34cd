#include "playlistrules.h"

#include <QtTest>

// The playlist's rules without a window: what plays after each end, what follows ahead, and
// where the media keys go.
class tst_PlaylistRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void atEnd_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("ends");  // one letter per end: p played, f failed
        QTest::addColumn<QString>("plays"); // entries played after each end; '-' none
        QTest::addColumn<QString>("last");  // of the last end: clear line, deselect
        QTest::newRow("second of three: third, then first") << 3 << 1 << "pp"
                                                            << "20"
                                                            << "cd";
        QTest::newRow("one entry repeats") << 1 << 0 << "ppp"
                                           << "000"
                                           << "cd";
        QTest::newRow("pane file, empty list") << 0 << -1 << "p"
                                               << "-"
                                               << "cd";
        QTest::newRow("pane file, nothing selected") << 2 << -1 << "p"
                                                     << "0"
                                                     << "c-";
        QTest::newRow("failures move on") << 3 << 0 << "ff"
                                          << "12"
                                          << "--";
        QTest::newRow("a round of failures stops") << 2 << 0 << "ff"
                                                   << "1-"
                                                   << "--";
        QTest::newRow("a good file counts afresh") << 3 << 0 << "fpff"
                                                   << "1201"
                                                   << "--";
        QTest::newRow("failure with an empty list") << 0 << -1 << "f"
                                                    << "-"
                                                    << "-d";
    }

    void atEnd()
    {
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(QString, ends);
        QFETCH(QString, plays);
        QFETCH(QString, last);
        PlaylistRules rules;
        rules.started();
        QString played, flags;
        for (QChar e : ends) {
            const PlaylistRules::End end = rules.atEnd(selected, count, e == 'f');
            played += end.play < 0 ? QChar('-') : QChar('0' + end.play);
            flags = QString(end.clearLine ? "c" : "-") + (end.deselect ? "d" : "-");
            if (end.play >= 0)
                selected = end.play;
        }
        QCOMPARE(played, plays);
        QCOMPARE(flags, last);
    }

    void movingOn_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int>>("upcoming"); // ahead 0, 1, 2
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("previous");
        QTest::newRow("middle") << 3 << 1 << QList<int>{2, 0, 1} << 2 << 0;
        QTest::newRow("last wraps") << 3 << 2 << QList<int>{0, 1, 2} << 0 << 1;
        QTest::newRow("none selected") << 3 << -1 << QList<int>{0, 1, 2} << 0 << 2;
        QTest::newRow("one entry") << 1 << 0 << QList<int>{0, 0, 0} << 0 << 0;
        QTest::newRow("empty") << 0 << -1 << QList<int>{-1, -1, -1} << -1 << -1;
    }

    void movingOn()
    {
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(QList<int>, upcoming);
        for (int ahead = 0; ahead < upcoming.size(); ++ahead)
            QCOMPARE(PlaylistRules::upcoming(selected, count, ahead), upcoming[ahead]);
        QTEST(PlaylistRules::stepped(selected, count, 1), "next");
        QTEST(PlaylistRules::stepped(selected, count, -1), "previous");
    }

    void entry_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("entry");
        QTest::newRow("folder") << "/music"
                                << "a.mp3"
                                << "/music/a.mp3";
        QTest::newRow("root doubles the separator") << "/"
                                                    << "a.mp3"
                                                    << "//a.mp3";
        QTest::newRow("no file selected") << "/music"
                                          << ""
                                          << "";
    }

    void entry()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QTEST(PlaylistRules::entry(folder, name), "entry");
    }
};

QTEST_APPLESS_MAIN(tst_PlaylistRules)
#include "tst_playlistrules.moc"

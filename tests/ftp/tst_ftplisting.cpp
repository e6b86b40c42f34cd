#include "ftplisting.h"

#include <QtTest>

// Listing lines as real servers send them, row by row. Expected entries are written
// "d name" (directory) or "f name" (file), one per list item.
class tst_FtpListing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listing_data();
    void listing();
    void names_data();
    void names();
};

void tst_FtpListing::listing_data()
{
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<quint64>("firstSize");

    QTest::newRow("mlsd, facts in any order and case, cdir/pdir left out")
        << true
        << QByteArray("type=cdir;perm=el; /home\r\ntype=pdir; "
                      "..\r\nSize=12;Type=File;modify=20200101000000; a.txt\r\n"
                      "TYPE=DIR;size=4096; sub dir\r\nunix.mode=0644;type=file; name; with; "
                      "semicolons\r\n")
        << QStringList{"f a.txt", "d sub dir", "f name; with; semicolons"} << quint64(12);
    QTest::newRow("mlsd, LF ends, symlink type, no facts")
        << true << QByteArray("type=OS.unix=slink:/x;size=3; link\n type=dir; odd\n")
        << QStringList{"f link", "f type=dir; odd"} << quint64(3);
    QTest::newRow("mlsd, odd names kept whole, . and .. never entries")
        << true
        << QByteArray("type=file; ..\r\ntype=file; a/b\\c\r\ntype=file; tab\there\r\ntype=dir; "
                      ".\r\ntype=file; ") +
               QByteArray(300, 'n')
        << QStringList{"f a/b\\c", "f tab\there", "f " + QString(300, 'n')} << quint64(0);
    QTest::newRow("mlsd, garbage and a line cut in its facts")
        << true << QByteArray("hello\r\n\r\ntype=file;size=1; ok\r\ntype=fi") << QStringList{"f ok"}
        << quint64(1);
    QTest::newRow("unix, group, time, year, blanks in names, . and ..")
        << false
        << QByteArray("total 16\r\ndrwxr-xr-x  2 ftp ftp  4096 Jan  5 12:00 .\r\n"
                      "drwxr-xr-x  3 ftp ftp  4096 Jan  5 12:00 ..\r\n"
                      "-rw-r--r--  1 ftp ftp 12345 Feb 28  2019 old file.txt\r\n"
                      "drwxr-xr-x  2 ftp ftp  4096 Dec 31 23:59 dir with  two blanks\r\n")
        << QStringList{"f old file.txt", "d dir with  two blanks"} << quint64(12345);
    QTest::newRow("unix, no group, numeric owner, symlink, device")
        << false
        << QByteArray("-rw-r--r-- 1 1000 7 Mar 3 2020 nogroup\nlrwxrwxrwx 1 0 0 11 Apr 1 10:10 pub "
                      "-> /srv/pub\n"
                      "crw-rw-rw- 1 root root 1, 3 May 1 10:10 null\n")
        << QStringList{"f nogroup", "f pub", "f null"} << quint64(7);
    QTest::newRow("unix, long-iso dates, sticky bits, owner named like a month")
        << false
        << QByteArray("drwxrwxrwt 2 root root 40 2024-02-29 08:15 tmp\n"
                      "-rwsr-xr-x 1 may jun 99 Jul 4 04:04 Aug 1 2020\n")
        << QStringList{"d tmp", "f Aug 1 2020"} << quint64(40);
    QTest::newRow("dos/iis, two- and four-digit years")
        << false
        << QByteArray("01-02-20  03:04PM       <DIR>          Program Files\r\n"
                      "12-31-2019  11:59AM              1234 readme.txt\r\n"
                      "01-02-20  03:04PM       <DIR>          .\r\n")
        << QStringList{"d Program Files", "f readme.txt"} << quint64(0);
    QTest::newRow("garbage, and a last line cut before its name")
        << false
        << QByteArray("550 nothing\r\n-rw-r--r-- 1 a b 5 Jan 1 2020 kept\r\nnot a listing line\r\n"
                      "-rw-r--r-- 1 a b 5 Jan 1 20")
        << QStringList{"f kept"} << quint64(5);
    QTest::newRow("empty") << false << QByteArray() << QStringList{} << quint64(0);
}

void tst_FtpListing::listing()
{
    QFETCH(bool, mlsd);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    QFETCH(quint64, firstSize);
    const auto entries = parseFtpListing(std::string_view(text.constData(), size_t(text.size())),
                                         mlsd ? FtpListingFormat::Mlsd : FtpListingFormat::List);
    QStringList got;
    for (const auto &e : entries)
        got << (e.directory ? "d " : "f ") + QString::fromStdString(e.name);
    QCOMPARE(got, expected);
    if (!entries.empty())
        QCOMPARE(entries.front().size, firstSize);
}

void tst_FtpListing::names_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::newRow("ascii") << QByteArray("plain.txt") << "plain.txt";
    QTest::newRow("utf-8") << QByteArray("gr\xc3\xbc\xc3\x9f"
                                         "e \xe6\x97\xa5\xe6\x9c\xac")
                           << QString::fromUtf8("grüße 日本");
    QTest::newRow("latin-1") << QByteArray("caf\xe9") << QString::fromUtf8("café");
    QTest::newRow("overlong utf-8 is latin-1") << QByteArray("\xc0\xaf") << QString::fromUtf8("À¯");
    QTest::newRow("surrogate is latin-1")
        << QByteArray("\xed\xa0\x80") << QString::fromUtf8("í\u00a0\u0080");
    QTest::newRow("cut sequence is latin-1")
        << QByteArray("a\xe6\x97") << QString::fromUtf8("aæ\u0097");
}

void tst_FtpListing::names()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdString(
                 ftpNameToUtf8(std::string_view(bytes.constData(), size_t(bytes.size())))),
             name);
}

QTEST_APPLESS_MAIN(tst_FtpListing)
#include "tst_ftplisting.moc"

#include "ftplisting.h"
#include "tablerows.h"

#include <QtTest>

// Listing lines as real servers send them, row by row. Cells: MLSD or LIST :: the text ::
// the entries, "d name" (directory) or "f name" (file), separated by "|" :: the first's size.
static const char listingTable[] = R"(
mlsd, facts in any order and case, cdir/pdir left out :: MLSD
    :: type=cdir;perm=el; /home\r\ntype=pdir; ..\r\nSize=12;Type=File;modify=20200101000000; \
    a.txt\r\nTYPE=DIR;size=4096; sub dir\r\nunix.mode=0644;type=file; name; with; semicolons\r\n
    :: f a.txt | d sub dir | f name; with; semicolons :: 12
mlsd, LF ends, symlink type, no facts :: MLSD :: type=OS.unix=slink:/x;size=3; link\n type=dir; odd\n
    :: f link | f type=dir; odd :: 3
mlsd, odd names kept whole, . and .. never entries :: MLSD
    :: type=file; ..\r\ntype=file; a/b\c\r\ntype=file; tab\there\r\ntype=dir; .\r\n
    :: f a/b\c | f tab\there :: 0
mlsd, garbage and a line cut in its facts :: MLSD :: hello\r\n\r\ntype=file;size=1; ok\r\ntype=fi
    :: f ok :: 1
unix, group, time, year, blanks in names, . and .. :: LIST
    :: total 16\r\ndrwxr-xr-x  2 ftp ftp  4096 Jan  5 12:00 .\r\n\
    drwxr-xr-x  3 ftp ftp  4096 Jan  5 12:00 ..\r\n\
    -rw-r--r--  1 ftp ftp 12345 Feb 28  2019 old file.txt\r\n\
    drwxr-xr-x  2 ftp ftp  4096 Dec 31 23:59 dir with  two blanks\r\n
    :: f old file.txt | d dir with  two blanks :: 12345
unix, no group, numeric owner, symlink, device :: LIST
    :: -rw-r--r-- 1 1000 7 Mar 3 2020 nogroup\nlrwxrwxrwx 1 0 0 11 Apr 1 10:10 pub -> /srv/pub\n\
    crw-rw-rw- 1 root root 1, 3 May 1 10:10 null\n
    :: f nogroup | f pub | f null :: 7
unix, long-iso dates, sticky bits, owner named like a month :: LIST
    :: drwxrwxrwt 2 root root 40 2024-02-29 08:15 tmp\n-rwsr-xr-x 1 may jun 99 Jul 4 04:04 Aug 1 2020\n
    :: d tmp | f Aug 1 2020 :: 40
dos/iis, two- and four-digit years :: LIST
    :: 01-02-20  03:04PM       <DIR>          Program Files\r\n\
    12-31-2019  11:59AM              1234 readme.txt\r\n01-02-20  03:04PM       <DIR>          .\r\n
    :: d Program Files | f readme.txt :: 0
garbage, and a last line cut before its name :: LIST
    :: 550 nothing\r\n-rw-r--r-- 1 a b 5 Jan 1 2020 kept\r\nnot a listing line\r\n\
    -rw-r--r-- 1 a b 5 Jan 1 20
    :: f kept :: 5
empty :: LIST
)";

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
    for (const QStringList &row : tableRows(listingTable))
        QTest::newRow(qPrintable(row[0]))
            << (row[1] == "MLSD") << row.value(2).toUtf8()
            << row.value(3).split(QRegularExpression(" *\\| *"), Qt::SkipEmptyParts)
            << row.value(4).toULongLong();
    const QString n(300, 'n');
    QTest::newRow("mlsd, a 300-character name")
        << true << "type=file; " + n.toUtf8() << QStringList{"f " + n} << quint64(0);
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
    QTest::newRow("utf-8") << QByteArray("gr\xc3\xbc\xc3\x9f"
                                         "e \xe6\x97\xa5")
                           << "grüße 日";
    QTest::newRow("latin-1") << QByteArray("caf\xe9") << "café";
    QTest::newRow("overlong utf-8 is latin-1") << QByteArray("\xc0\xaf") << "À¯";
    QTest::newRow("surrogate is latin-1") << QByteArray("\xed\xa0\x80") << "í\u00a0\u0080";
    QTest::newRow("cut sequence is latin-1") << QByteArray("a\xe6\x97") << "aæ\u0097";
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

#include "ftpserver.h"
#include "ftplisting.h"
#include "tablerows.h"
#include "wininet.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <optional>
#include <thread>

// The WinINet functions against a real FTP server on loopback, and their listing parser.
namespace {

const QString home = FtpServerPeer::home;

QString lastResponse()
{
    DWORD number = 0, length = 0;
    InternetGetLastResponseInfoA(&number, nullptr, &length);
    std::string text(++length, '\0');
    if (!InternetGetLastResponseInfoA(&number, text.data(), &length))
        return "(no reply)";
    return QString::number(number) + ' ' + QString::fromStdString(text.substr(0, length));
}

} // namespace

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

// One call on a fresh server whose login directory holds "a dir", "odd %20 #name?", big.bin
// (200 MB, sparse), keep.txt and a UTF-8 name; the local file holds "old contents" first.
// Cells: ftpserver.py switches :: the call and its argument (get/put: the remote file, list: the
// pattern, cd: directories separated by ";", connect: the server text, "silent" or "closed" for a
// port that never answers or refuses) :: what arrives (the bytes, the sorted listing, or after
// connect/cd the current directory, after 12003 with the server's reply first) :: the error ::
// flags (active, ascii, wrong password, kill or cancel once 100000 bytes or a listing ran,
// NAME=seconds for the CONNECT, REPLY or STALL time-out) :: a put's local contents when they
// differ. The command not meant for the server hangs, so using it would fail the row.
static const char callTable[] = R"(
bad password :: :: connect :: 530 530 :: 12003 :: wrong
nobody listening :: :: connect closed :: :: 12029
not a host name :: :: connect no such/host :: :: 12007
empty server text :: :: connect '' :: :: 12007
cd absolute, relative, parent, odd name :: :: cd /home;velmaric;a dir;..;odd %20 #name?
    :: {home}/odd %20 #name?
cd missing :: :: cd nothere :: 550 550 {home} :: 12003
mlsd, passive :: --hang LIST :: list *.* :: {files} :: :: REPLY=5
list, active :: --no-mlsd --hang MLSD :: list *.* :: {files} :: :: REPLY=5 active
empty folder :: :: list a dir :: error 18
root :: :: list / :: d home
10000 entries, list :: --make-files 10000 --no-mlsd :: list many :: {many}
utf-8 again after the server hangs up :: --require-utf8-opts --close-after-transfer :: list *.*
    :: {files}
get binary, passive, utf-8 name :: :: get grüße #1%.txt :: {binary}
get binary, active :: :: get d.bin :: {binary} :: :: active
put binary, passive, utf-8 name :: :: put 日本 ?.txt :: {binary}
get ascii gives LF :: :: get t.txt :: a\nb\nc :: :: ascii
put ascii, CR LF not doubled :: :: put t.txt :: one\ntwo\nthree\n\rfour :: :: ascii
    :: one\ntwo\r\nthree\n\rfour
empty file :: :: get e
missing remote file :: :: get nothere :: :: 12003
line end in the name :: :: get a\r\nDELE keep.txt :: :: 123
no greeting :: :: connect silent :: :: 12002 :: CONNECT=1 exact
no TLS handshake :: :: connect ftps://silent :: :: 12002 :: CONNECT=1 exact
no reply to MLSD :: --hang MLSD :: list *.* :: error 12002 :: :: REPLY=1
no reply to QUIT at closing :: --hang QUIT :: close
server killed mid-get :: --stall-after 100000 :: get big.bin :: :: 12030 :: kill
cancel during a 200 MB get :: :: get big.bin :: :: 12017 :: cancel
cancel while the data stalls :: --stall-after 100000 :: get big.bin :: :: 12017 :: cancel
cancel while waiting for a reply :: --hang MLSD :: list *.* :: error 12017 :: :: cancel
endless listing refused :: --listing-lines -1 :: list *.* :: error 8
300000 entries :: --listing-lines 300000 :: list *.* :: {made 300000}
understated SIZE cuts nothing :: --size-reply 213_100 :: get s.bin :: {binary}
refused SIZE stops no get :: --size-reply 550_SIZE_not_allowed :: get s.bin :: {binary}
less data than SIZE announced :: --size-reply 213_99999999 :: get keep.txt :: :: 12030
421 at login is the server's answer :: --login-reply 421_Too_many_connections :: connect
    :: 421 421 :: 12003
stall time-out on time :: --stall-after 100000 :: get big.bin :: :: 12002 :: STALL=2 exact
ascii put: CR LF on the wire :: --wire {wire} :: put t.txt :: one\ntwo\nthree :: :: ascii
    :: one\ntwo\r\nthree :: in:one\r\ntwo\r\nthree
ascii get: CR LF on the wire, LF here :: --wire {wire} :: get t.txt :: a\nb\n :: :: ascii :: ::
    out:a\r\nb\r\n
control characters in names kept whole :: :: list ctl :: f bell\a\nf lone\rcr\nf tab\there
)";

class tst_FtpPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void calls_data();
    void calls();
    void changes();
};

void tst_FtpPlatform::parse_data()
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList &row : tableRows(listingTable))
        QTest::newRow(qPrintable(row[0])) << row;
    // Names that are not UTF-8 are read as Latin-1 (UTF-8 ones come from the server below).
    const QList<std::pair<QByteArray, QString>> names{
        {"caf\xe9", "café"},
        {"overlong \xc0\xaf", "overlong À¯"},
        {"surrogate \xed\xa0\x80", "surrogate í\u00a0\u0080"},
        {"cut \xe6\x97", "cut æ\u0097"},
        {QByteArray(300, 'n'), QString(300, 'n')}};
    for (const auto &[bytes, name] : names) // the text cell holds a byte a character
        QTest::newRow(qPrintable("mlsd name " + name.left(12))) << QStringList{
            "", "MLSD", QString::fromLatin1("type=file; " + bytes), "f " + name, "0"};
}

void tst_FtpPlatform::parse()
{
    QFETCH(QStringList, row);
    const auto entries = parseFtpListing(row.value(2).toLatin1().toStdString(),
                                         row[1] == "MLSD" ? FtpListingFormat::Mlsd
                                                          : FtpListingFormat::List);
    QStringList got;
    for (const auto &e : entries)
        got << (e.directory ? "d " : "f ") + QString::fromStdString(e.name);
    QCOMPARE(got, row.value(3).split(QRegularExpression(" *\\| *"), Qt::SkipEmptyParts));
    if (!entries.empty())
        QCOMPARE(entries.front().size, row.value(4).toULongLong());
}

void tst_FtpPlatform::calls_data()
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList &row : tableRows(callTable))
        QTest::newRow(qPrintable(row[0])) << row;
}

// Every call ends promptly with its result; a failed one leaves the local file as it was.
void tst_FtpPlatform::calls()
{
    QFETCH(QStringList, row);
    const QString call = row[2].section(' ', 0, 0), name = row[2].section(' ', 1);
    const QStringList flags = row.value(5).split(' ', Qt::SkipEmptyParts);
    QByteArray binary = "a\r\nb\n\r", many, want = row.value(3).toUtf8();
    for (unsigned i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        binary += char((i * 7919u) >> 3);
    for (int i = 0; i < 10000; ++i)
        many += QByteArray(i ? "\n" : "") + QString::asprintf("f file%06d.txt", i).toLatin1();
    QByteArray made;
    if (want.startsWith("{made "))
        for (int i = 0, n = want.mid(6).chopped(1).toInt(); i < n; ++i)
            made += QByteArray(i ? "\n" : "") + QString::asprintf("f f%09d", i).toLatin1();
    if (!made.isEmpty())
        want = made;
    want.replace("{home}", home.toUtf8())
        .replace("{many}", many)
        .replace("{binary}", binary)
        .replace("{files}", "d a dir\nd odd %20 #name?\nf big.bin\nf grüße 日本.txt\nf keep.txt");
    const DWORD wantError = row.value(4).toUInt();
    QTemporaryDir wire;
    FtpServerPeer peer(row[1].replace("{wire}", wire.path()).split(' ', Qt::SkipEmptyParts));
    REQUIRE_FTP_SERVER(peer);
    const QString utf8Name = QString::fromUtf8("grüße 日本.txt");
    QVERIFY(peer.writeFile(home + "/big.bin", "") &&
            QFile::resize(peer.root(home + "/big.bin"), 200 * 1024 * 1024));
    QVERIFY(QDir().mkpath(peer.root(home + "/a dir")));
    QVERIFY(QDir().mkpath(peer.root(home + "/odd %20 #name?")));
    QVERIFY(peer.writeFile(home + "/keep.txt", "keep"));
    QVERIFY(peer.writeFile(home + '/' + utf8Name, "u"));
    for (const char *ctl : {"lone\rcr", "tab\there", "bell\a"})
        QVERIFY(name != "ctl" || peer.writeFile(home + "/ctl/" + ctl, "c"));
    if (call == "get" && !wantError)
        QVERIFY(peer.writeFile(home + '/' + name, want));
    QTemporaryDir local;
    const bool transfer = call == "get" || call == "put";
    const QString localName = transfer ? name : "local";
    const QString localPath = local.filePath(localName);
    const QByteArray old = "old contents";
    QVERIFY(writeFile(localPath, call != "put" ? old : row.size() > 6 ? row[6].toUtf8() : want));
    const QStringList timeout = flags.filter("=").value(0).split('=');
    const FtpTimeouts defaults = FtpGetTimeouts();
    FtpTimeouts timeouts = defaults;
    if (timeout.size() == 2)
        (timeout[0] == "CONNECT" ? timeouts.connectSeconds
         : timeout[0] == "REPLY" ? timeouts.replySeconds
                                 : timeouts.stallSeconds) = timeout[1].toDouble();
    FtpSetTimeouts(timeouts);
    const auto restore = qScopeGuard([&] { FtpSetTimeouts(defaults); });
    QTcpServer silent, closed; // one listens and never answers, the other is closed again
    QVERIFY(silent.listen(QHostAddress::LocalHost) && closed.listen(QHostAddress::LocalHost));
    const QString closedPort = QString::number(closed.serverPort());
    closed.close();
    QString host = call != "connect" || name.isEmpty() ? peer.server() : name == "''" ? "" : name;
    host.replace("silent", "127.0.0.1:" + QString::number(silent.serverPort()))
        .replace("closed", "127.0.0.1:" + closedPort);

    FtpCallObserver observer;
    std::jthread canceller;
    observer.progress = [&](std::uint64_t done, std::uint64_t) {
        if (call == "get" && done < 100000)
            return;
        if (flags.contains("kill"))
            peer.kill();
        else if (flags.contains("cancel") && !canceller.joinable()) // another thread, as Cancel
            canceller = std::jthread([&observer] { observer.cancelled = true; });
    };
    std::optional<FtpObserverScope> scope(std::in_place, observer);
    QElapsedTimer clock;
    clock.start();
    const HINTERNET open = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connect = InternetConnectA(
        open, host.toUtf8().constData(), 0, FtpServerPeer::user,
        flags.contains("wrong") ? "wrong" : FtpServerPeer::password, INTERNET_SERVICE_FTP,
        flags.contains("active") ? 0 : INTERNET_FLAG_PASSIVE, 0);
    const DWORD connectError = GetLastError();
    const auto closeHandles = qScopeGuard([&] {
        InternetCloseHandle(connect);
        InternetCloseHandle(open);
    });
    QCOMPARE(connect != 0, call != "connect" || !wantError);
    const QByteArray l = localPath.toUtf8(), r = name.toUtf8();
    const DWORD type = flags.contains("ascii") ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    bool ok = call == "close" ? InternetCloseHandle(std::exchange(connect, 0)) : connect;
    for (const QString &directory : call == "cd" ? name.split(';') : QStringList())
        ok = ok && FtpSetCurrentDirectoryA(connect, directory.toUtf8().constData());
    QByteArray got;
    if (call == "list") { // the sorted entries, then "error N" unless they ended with 18
        WIN32_FIND_DATA data;
        const HINTERNET find = FtpFindFirstFileA(connect, r.constData(), &data, 0, 0);
        QStringList entries;
        for (bool more = find; more; more = InternetFindNextFileA(find, &data))
            entries << (data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "d " : "f ") +
                           QString::fromStdString(data.cFileName);
        entries.sort();
        if (!find || GetLastError() != ERROR_NO_MORE_FILES)
            entries << QStringLiteral("error %1").arg(GetLastError());
        InternetCloseHandle(find);
        got = entries.join('\n').toUtf8();
    } else if (call == "get")
        ok = FtpGetFileA(connect, r.constData(), l.constData(), false, INTERNET_FLAG_RELOAD, type,
                         0);
    else if (call == "put")
        ok = FtpPutFileA(connect, l.constData(), r.constData(), type, 0);
    const DWORD error = call == "connect" ? connectError : ok ? 0 : GetLastError();
    if (call == "connect" || call == "cd")
        got = QStringList{error == ERROR_INTERNET_EXTENDED_ERROR ? lastResponse().left(7) : "",
                          connect ? QString::fromStdString(FtpCurrentDirectory(connect)) : ""}
                  .join(' ')
                  .trimmed()
                  .toUtf8();
    // A cancel acts at once; a time-out of 1 s gives up well within 30 s.
    QVERIFY2(clock.elapsed() < (timeout.size() == 2 ? 30000 : 10000), "not given up promptly");
    // The time-out as set, within a second (login takes a moment; timers may round down a little).
    if (flags.contains("exact"))
        QVERIFY2(clock.elapsed() >= timeout[1].toInt() * 1000 - 50 &&
                     clock.elapsed() < timeout[1].toInt() * 1000 + 1000,
                 qPrintable(QString::number(clock.elapsed())));
    scope.reset();
    QCOMPARE(call == "close" ? 0 : error, wantError);
    if (transfer) {
        const QByteArray received = call == "put" ? peer.readFile(home + '/' + name)
                                                  : readFile(localPath);
        QVERIFY2(received == (ok ? want : old), received.left(100).toHex().constData());
    } else {
        QCOMPARE(got, want);
        QCOMPARE(readFile(localPath), old);
    }
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{localName});
    QCOMPARE(peer.readFile(home + "/keep.txt"), QByteArray("keep"));
    if (const QString onWire = row.value(7); !onWire.isEmpty())
        QCOMPARE(readFile(wire.filePath(onWire.section(':', 0, 0))),
                 onWire.section(':', 1).toUtf8());
    // The connection still works (libcurl logs in again by itself), twice for the server that
    // hangs up after each transfer, and stays in the login directory.
    const bool usable = connect && call != "cd" &&
                        !row[1].contains(QRegularExpression("hang|stall|size-reply"));
    for (int round = 0; usable && round < 2; ++round) {
        QVERIFY2(FtpGetFileA(connect, utf8Name.toUtf8().constData(),
                             local.filePath("u").toUtf8().constData(), false, 0,
                             FTP_TRANSFER_TYPE_BINARY, 0),
                 qPrintable(lastResponse()));
        QCOMPARE(readFile(local.filePath("u")), QByteArray("u"));
        QCOMPARE(FtpCurrentDirectory(connect), home.toStdString());
    }
}

// Folders made and removed, files renamed and deleted, relative to the current directory; a
// name with a line end never reaches the server.
void tst_FtpPlatform::changes()
{
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(peer.writeFile(home + "/keep.txt", "keep"));
    const HINTERNET open = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const HINTERNET c = InternetConnectA(open, peer.server().toUtf8().constData(), 0,
                                         FtpServerPeer::user, FtpServerPeer::password,
                                         INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    const auto closeHandles = qScopeGuard([&] {
        InternetCloseHandle(c);
        InternetCloseHandle(open);
    });
    QVERIFY(c);
    QVERIFY(FtpCreateDirectoryA(c, "new dir"));
    QVERIFY(QFileInfo(peer.root(home + "/new dir")).isDir());
    QVERIFY(FtpRenameFileA(c, "keep.txt", "new dir/kept.txt"));
    QCOMPARE(peer.readFile(home + "/new dir/kept.txt"), QByteArray("keep"));
    QVERIFY(!FtpRemoveDirectoryA(c, "new dir"));
    QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(FtpSetCurrentDirectoryA(c, "new dir"));
    QVERIFY(!FtpDeleteFileA(c, "kept.txt\r\nRMD /"));
    QCOMPARE(GetLastError(), ERROR_INVALID_NAME);
    QVERIFY(FtpDeleteFileA(c, "kept.txt"));
    QVERIFY(FtpRemoveDirectoryA(c, (home + "/new dir").toUtf8().constData()));
    QVERIFY(!QFileInfo::exists(peer.root(home + "/new dir")));
}

QTEST_GUILESS_MAIN(tst_FtpPlatform)
#include "tst_ftpplatform.moc"

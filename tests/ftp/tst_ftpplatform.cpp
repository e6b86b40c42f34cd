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

// Every entry, "d name" or "f name", sorted; "error N" last when the listing did not end with 18.
QStringList listing(HINTERNET connect, const QString &pattern)
{
    QStringList out;
    WIN32_FIND_DATA data;
    const HINTERNET find = FtpFindFirstFileA(connect, pattern.toUtf8().constData(), &data, 0, 0);
    if (!find)
        return {QStringLiteral("error %1").arg(GetLastError())};
    do
        out << (data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "d " : "f ") +
                   QString::fromStdString(data.cFileName);
    while (InternetFindNextFileA(find, &data));
    out.sort();
    if (GetLastError() != ERROR_NO_MORE_FILES)
        out << QStringLiteral("error %1").arg(GetLastError());
    InternetCloseHandle(find);
    return out;
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

class tst_FtpPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void names_data();
    void names();
    void calls_data();
    void calls();
};

void tst_FtpPlatform::parse_data()
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

void tst_FtpPlatform::parse()
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

void tst_FtpPlatform::names_data()
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

void tst_FtpPlatform::names()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdString(
                 ftpNameToUtf8(std::string_view(bytes.constData(), size_t(bytes.size())))),
             name);
}

// One call on a fresh server whose login directory holds "a dir", "odd %20 #name?", big.bin
// (200 MB, sparse), keep.txt and a UTF-8 name; the local file holds "old contents" first.
struct Call {
    QStringList args = {}; // ftpserver.py switches
    QString host = "peer"; // the server text: "peer", "silent" or "closed" (a port), or as is
    QByteArray password = FtpServerPeer::password;
    QString call = "get";     // get, put, list, connect, cd (to each of name's ";" parts) or close
    QString name = "big.bin"; // the remote file, or the listing's pattern
    QByteArray source = {};   // the remote file of a get, the local one of a put; null: none
    // The bytes received, the sorted entries listed, or after a connect or cd the current
    // directory, after 12003 with the server's reply first.
    QByteArray want = {};
    DWORD error = 0;
    bool passive = true;
    DWORD type = FTP_TRANSFER_TYPE_BINARY;
    QByteArray timeout = {}; // "VARIABLE=seconds" for the row
    QString action = {};     // "kill" or "cancel" once 100000 bytes (or a listing) ran
};
Q_DECLARE_METATYPE(Call)

void tst_FtpPlatform::calls_data()
{
    QTest::addColumn<Call>("c");
    const QByteArray files =
        QString::fromUtf8("d a dir\nd odd %20 #name?\nf big.bin\nf grüße 日本.txt\nf keep.txt")
            .toUtf8();
    QByteArray many;
    for (int i = 0; i < 10000; ++i)
        many += QByteArray(i ? "\n" : "") + QString::asprintf("f file%06d.txt", i).toLatin1();
    QByteArray binary = "a\r\nb\n\r";
    for (unsigned i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        binary += char((i * 7919u) >> 3);
    const QString utf8 = QString::fromUtf8("grüße #1%.txt"),
                  utf8Put = QString::fromUtf8("日本 ?.txt");
    const QStringList stall{"--stall-after", "100000"}, hang{"--hang", "MLSD"};
    // The command not meant for the server gets no reply, so using it would fail the row.
    const QStringList mlsd{"--hang", "LIST"}, list{"--no-mlsd", "--hang", "MLSD"};
    const QByteArray reply = "VELMARIC_FTP_REPLY_TIMEOUT=";
    const DWORD ascii = FTP_TRANSFER_TYPE_ASCII;
    QTest::newRow("bad password") << Call{
        .password = "wrong", .call = "connect", .want = "530 530", .error = 12003};
    QTest::newRow("nobody listening") << Call{.host = "closed", .call = "connect", .error = 12029};
    QTest::newRow("not a host name")
        << Call{.host = "no such/host", .call = "connect", .error = 12007};
    QTest::newRow("empty server text") << Call{.host = "", .call = "connect", .error = 12007};
    QTest::newRow("login directory") << Call{.call = "connect", .want = home.toUtf8()};
    QTest::newRow("relative cd") << Call{
        .call = "cd", .name = "a dir", .want = home.toUtf8() + "/a dir"};
    QTest::newRow("absolute cd") << Call{.call = "cd", .name = "a dir;/home", .want = "/home"};
    QTest::newRow("cd to the parent")
        << Call{.call = "cd", .name = "a dir;..", .want = home.toUtf8()};
    QTest::newRow("cd blank, percent, hash")
        << Call{.call = "cd", .name = "odd %20 #name?", .want = home.toUtf8() + "/odd %20 #name?"};
    QTest::newRow("cd missing") << Call{
        .call = "cd", .name = "nothere", .want = "550 550 " + home.toUtf8(), .error = 12003};
    QTest::newRow("mlsd, passive")
        << Call{.args = mlsd, .call = "list", .name = "*.*", .want = files, .timeout = reply + "5"};
    QTest::newRow("mlsd, active") << Call{.args = mlsd,
                                          .call = "list",
                                          .name = "*.*",
                                          .want = files,
                                          .passive = false,
                                          .timeout = reply + "5"};
    QTest::newRow("list, passive")
        << Call{.args = list, .call = "list", .name = "*.*", .want = files, .timeout = reply + "5"};
    QTest::newRow("list, active") << Call{.args = list,
                                          .call = "list",
                                          .name = "*.*",
                                          .want = files,
                                          .passive = false,
                                          .timeout = reply + "5"};
    QTest::newRow("empty folder") << Call{.call = "list", .name = "a dir", .want = "error 18"};
    QTest::newRow("root") << Call{.call = "list", .name = "/", .want = "d home"};
    QTest::newRow("10000 entries, mlsd")
        << Call{.args = {"--make-files", "10000"}, .call = "list", .name = "many", .want = many};
    QTest::newRow("10000 entries, list") << Call{.args = {"--make-files", "10000", "--no-mlsd"},
                                                 .call = "list",
                                                 .name = "many",
                                                 .want = many};
    // Each new connection needs OPTS UTF8 ON again.
    QTest::newRow("utf-8 after the server hangs up")
        << Call{.args = {"--require-utf8-opts", "--close-after-transfer"},
                .call = "list",
                .name = "*.*",
                .want = files};
    QTest::newRow("get binary, passive, utf-8 name")
        << Call{.name = utf8, .source = binary, .want = binary};
    QTest::newRow("get binary, active")
        << Call{.name = "d.bin", .source = binary, .want = binary, .passive = false};
    QTest::newRow("put binary, passive, utf-8 name")
        << Call{.call = "put", .name = utf8Put, .source = binary, .want = binary};
    QTest::newRow("put binary, active")
        << Call{.call = "put", .name = "d.bin", .source = binary, .want = binary, .passive = false};
    // pyftpdlib sends LF as CR LF in ASCII mode and stores CR LF as LF.
    QTest::newRow("get ascii gives LF")
        << Call{.name = "t.txt", .source = "a\nb\nc", .want = "a\nb\nc", .type = ascii};
    QTest::newRow("put ascii, CR LF not doubled") << Call{.call = "put",
                                                          .name = "t.txt",
                                                          .source = "one\ntwo\r\nthree\n\rfour",
                                                          .want = "one\ntwo\nthree\n\rfour",
                                                          .type = ascii};
    QTest::newRow("empty file") << Call{.name = "e", .source = "", .want = ""};
    QTest::newRow("missing remote file") << Call{.name = "nothere", .error = 12003};
    QTest::newRow("a folder") << Call{.name = "a dir", .error = 12003};
    QTest::newRow("line end in the name") << Call{.name = "a\r\nDELE keep.txt", .error = 123};
    QTest::newRow("no greeting") << Call{.host = "silent",
                                         .call = "connect",
                                         .error = 12002,
                                         .timeout = "VELMARIC_FTP_CONNECT_TIMEOUT=1"};
    QTest::newRow("no reply to MLSD") << Call{
        .args = hang, .call = "list", .name = "*.*", .want = "error 12002", .timeout = reply + "1"};
    QTest::newRow("data stops") << Call{
        .args = stall, .error = 12002, .timeout = "VELMARIC_FTP_STALL_TIMEOUT=1"};
    QTest::newRow("no reply to QUIT at closing")
        << Call{.args = {"--hang", "QUIT"}, .call = "close"};
    QTest::newRow("server killed mid-get") << Call{.args = stall, .error = 12030, .action = "kill"};
    QTest::newRow("cancel during a 200 MB get") << Call{.error = 12017, .action = "cancel"};
    QTest::newRow("cancel while the data stalls")
        << Call{.args = stall, .error = 12017, .action = "cancel"};
    QTest::newRow("cancel while waiting for a reply") << Call{
        .args = hang, .call = "list", .name = "*.*", .want = "error 12017", .action = "cancel"};
}

// Every call ends promptly with its result; a failed one leaves the local file as it was.
void tst_FtpPlatform::calls()
{
    QFETCH(Call, c);
    FtpServerPeer peer(c.args);
    REQUIRE_FTP_SERVER(peer);
    const QString utf8Name = QString::fromUtf8("grüße 日本.txt");
    QFile big(peer.root(home + "/big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(200 * 1024 * 1024));
    big.close();
    QVERIFY(QDir().mkpath(peer.root(home + "/a dir")));
    QVERIFY(QDir().mkpath(peer.root(home + "/odd %20 #name?")));
    QVERIFY(peer.writeFile(home + "/keep.txt", "keep"));
    QVERIFY(peer.writeFile(home + '/' + utf8Name, "u"));
    if (c.call == "get" && !c.source.isNull())
        QVERIFY(peer.writeFile(home + '/' + c.name, c.source));
    QTemporaryDir local;
    const QString localName = c.call == "get" || c.call == "put" ? c.name : "local";
    const QString localPath = local.filePath(localName);
    const QByteArray old = "old contents";
    QVERIFY(writeFile(localPath, c.call == "put" ? c.source : old));
    const QByteArray variable = c.timeout.split('=').value(0);
    if (!variable.isEmpty())
        qputenv(variable.constData(), c.timeout.split('=').value(1));
    const auto unset = qScopeGuard([&] { qunsetenv(variable.constData()); });
    QTcpServer silent, closed; // one listens and never answers, the other is closed again
    QVERIFY(silent.listen(QHostAddress::LocalHost) && closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();
    const QString host = c.host == "peer" ? peer.server()
                         : c.host == "silent"
                             ? QStringLiteral("127.0.0.1:%1").arg(silent.serverPort())
                         : c.host == "closed" ? QStringLiteral("127.0.0.1:%1").arg(closedPort)
                                              : c.host;

    FtpCallObserver observer;
    std::jthread canceller;
    observer.progress = [&](std::uint64_t done, std::uint64_t) {
        if (c.call == "get" && done < 100000)
            return;
        if (c.action == "kill")
            peer.kill();
        else if (c.action == "cancel" && !canceller.joinable()) // from another thread, as Cancel
            canceller = std::jthread([&observer] { observer.cancelled = true; });
    };
    std::optional<FtpObserverScope> scope(std::in_place, observer);
    QElapsedTimer clock;
    clock.start();
    const HINTERNET open = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                         0);
    HINTERNET connect = InternetConnectA(open, host.toUtf8().constData(), 0, FtpServerPeer::user,
                                         c.password.constData(), INTERNET_SERVICE_FTP,
                                         c.passive ? INTERNET_FLAG_PASSIVE : 0, 0);
    const DWORD connectError = GetLastError();
    const auto closeHandles = qScopeGuard([&] {
        InternetCloseHandle(connect);
        InternetCloseHandle(open);
    });
    QCOMPARE(connect != 0, c.call != "connect" || !c.error);
    const QByteArray l = localPath.toUtf8(), r = c.name.toUtf8();
    bool ok = c.call == "close" ? InternetCloseHandle(std::exchange(connect, 0)) : connect;
    for (const QString &directory : c.call == "cd" ? c.name.split(';') : QStringList())
        ok = FtpSetCurrentDirectoryA(connect, directory.toUtf8().constData());
    QByteArray got;
    if (c.call == "list")
        got = listing(connect, c.name).join('\n').toUtf8();
    else if (c.call == "get")
        ok = FtpGetFileA(connect, r.constData(), l.constData(), false, INTERNET_FLAG_RELOAD, c.type,
                         0);
    else if (c.call == "put")
        ok = FtpPutFileA(connect, l.constData(), r.constData(), c.type, 0);
    const DWORD error = c.call == "connect" ? connectError : ok ? 0 : GetLastError();
    if (c.call == "connect" || c.call == "cd")
        got = QStringList{error == ERROR_INTERNET_EXTENDED_ERROR ? lastResponse().left(7) : "",
                          connect ? QString::fromStdString(FtpCurrentDirectory(connect)) : ""}
                  .join(' ')
                  .trimmed()
                  .toUtf8();
    // A cancel acts at once; a time-out of 1 s gives up well within 30 s.
    QVERIFY2(clock.elapsed() < (c.timeout.isEmpty() ? 10000 : 30000), "not given up promptly");
    scope.reset();
    QCOMPARE(c.call == "close" ? 0 : error, c.error);
    if (c.call == "get" || c.call == "put") {
        const QByteArray received = c.call == "put" ? peer.readFile(home + '/' + c.name)
                                                    : readFile(localPath);
        QVERIFY2(received == (ok ? c.want : old), received.left(100).toHex().constData());
    } else {
        QCOMPARE(got, c.want);
        QCOMPARE(readFile(localPath), old);
    }
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{localName});
    QCOMPARE(peer.readFile(home + "/keep.txt"), QByteArray("keep"));
    // The connection still works (libcurl logs in again by itself), twice for the server that
    // hangs up after each transfer, and stays in the login directory.
    const bool usable = connect && c.call != "cd" &&
                        !c.args.join(' ').contains(QRegularExpression("hang|stall"));
    for (int round = 0; usable && round < 2; ++round) {
        QVERIFY2(FtpGetFileA(connect, utf8Name.toUtf8().constData(),
                             local.filePath("u").toUtf8().constData(), false, 0,
                             FTP_TRANSFER_TYPE_BINARY, 0),
                 qPrintable(lastResponse()));
        QCOMPARE(readFile(local.filePath("u")), QByteArray("u"));
        QCOMPARE(FtpCurrentDirectory(connect), home.toStdString());
    }
}

QTEST_GUILESS_MAIN(tst_FtpPlatform)
#include "tst_ftpplatform.moc"

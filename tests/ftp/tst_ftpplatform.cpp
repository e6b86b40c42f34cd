#include "ftpserver.h"
#include "wininet.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <optional>
#include <thread>

// The WinINet functions against a real FTP server on loopback.
namespace {

const QString home = FtpServerPeer::home;

// A session and a connection, closed on scope exit.
struct Login {
    HINTERNET open = 0;
    HINTERNET connect = 0;
    DWORD error = 0;
    Login(const QString &server, const char *password = FtpServerPeer::password,
          bool passive = true)
    {
        open = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        connect = InternetConnectA(open, server.toUtf8().constData(), 0, FtpServerPeer::user,
                                   password, INTERNET_SERVICE_FTP,
                                   passive ? INTERNET_FLAG_PASSIVE : 0, 0);
        error = GetLastError();
    }
    ~Login()
    {
        if (connect)
            InternetCloseHandle(connect);
        if (open)
            InternetCloseHandle(open);
    }
};

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

QByteArray sha(const QByteArray &b)
{
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

QStringList localEntries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_FtpPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void login_data();
    void login();
    void listings_data();
    void listings();
    void transfers_data();
    void transfers();
    void interrupted_data();
    void interrupted();
};

void tst_FtpPlatform::login_data()
{
    QTest::addColumn<QString>("server"); // "peer", "closed" (nobody listening) or the text itself
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("directories"); // changed to in turn after the login
    // The current directory at the end; after a failure first the error, the reply after 12003.
    QTest::addColumn<QString>("outcome");
    const QString pw = FtpServerPeer::password;
    QTest::newRow("bad password") << "peer"
                                  << "wrong" << QStringList{} << "12003 530 530";
    QTest::newRow("nobody listening") << "closed" << pw << QStringList{} << "12029";
    QTest::newRow("not a host name") << "no such/host" << pw << QStringList{} << "12007";
    QTest::newRow("empty server text") << "" << pw << QStringList{} << "12007";
    QTest::newRow("login directory") << "peer" << pw << QStringList{} << home;
    QTest::newRow("relative") << "peer" << pw << QStringList{"sub"} << home + "/sub";
    QTest::newRow("absolute") << "peer" << pw << QStringList{"sub", "/home"} << "/home";
    QTest::newRow("parent") << "peer" << pw << QStringList{"sub", ".."} << home;
    QTest::newRow("blank, percent, hash")
        << "peer" << pw << QStringList{"odd %20 #name?"} << home + "/odd %20 #name?";
    QTest::newRow("missing") << "peer" << pw << QStringList{"nothere"} << "12003 550 550 " + home;
}

void tst_FtpPlatform::login()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QStringList, directories);
    QFETCH(QString, outcome);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(QDir().mkpath(peer.root(home + "/sub")));
    QVERIFY(QDir().mkpath(peer.root(home + "/odd %20 #name?")));
    if (server == "peer") {
        server = peer.server();
    } else if (server == "closed") {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        server = QStringLiteral("127.0.0.1:%1").arg(gone.serverPort());
    }
    const Login s(server, password.toUtf8().constData());
    bool ok = s.connect;
    for (const QString &directory : directories)
        ok = FtpSetCurrentDirectoryA(s.connect, directory.toUtf8().constData());
    const DWORD error = GetLastError();
    QString got = s.connect ? QString::fromStdString(FtpCurrentDirectory(s.connect)) : "";
    if (!ok)
        got = QString::number(error) +
              (error == ERROR_INTERNET_EXTENDED_ERROR ? ' ' + lastResponse().left(7) : "") +
              (got.isEmpty() ? "" : ' ' + got);
    QCOMPARE(got, outcome);
}

void tst_FtpPlatform::listings_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    const QStringList files{"d a dir", "f b file.txt", QString::fromUtf8("f grüße 日本.txt")};
    QStringList many;
    for (int i = 0; i < 10000; ++i)
        many << QString::asprintf("f file%06d.txt", i);
    // The command not meant for the server gets no reply, so using it would fail the row.
    const QStringList mlsd{"--hang", "LIST"}, list{"--no-mlsd", "--hang", "MLSD"};
    QTest::newRow("mlsd, passive") << mlsd << true << "*.*" << files;
    QTest::newRow("mlsd, active") << mlsd << false << "*.*" << files;
    QTest::newRow("list, passive") << list << true << "*.*" << files;
    QTest::newRow("list, active") << list << false << "*.*" << files;
    QTest::newRow("empty folder") << QStringList{} << true << "a dir" << QStringList{"error 18"};
    QTest::newRow("root") << QStringList{} << true << "/" << QStringList{"d home"};
    QTest::newRow("10000 entries, mlsd")
        << QStringList{"--make-files", "10000"} << true << "many" << many;
    QTest::newRow("10000 entries, list")
        << QStringList{"--make-files", "10000", "--no-mlsd"} << true << "many" << many;
    // Each new connection needs OPTS UTF8 ON again.
    QTest::newRow("utf-8 after the server hangs up")
        << QStringList{"--require-utf8-opts", "--close-after-transfer"} << true << "*.*" << files;
}

void tst_FtpPlatform::listings()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(bool, passive);
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    const QString utf8Name = QString::fromUtf8("grüße 日本.txt");
    QVERIFY(QDir().mkpath(peer.root(home + "/a dir")));
    QVERIFY(peer.writeFile(home + "/b file.txt", "b"));
    QVERIFY(peer.writeFile(home + '/' + utf8Name, "u"));
    qputenv("VELMARIC_FTP_REPLY_TIMEOUT", "5");
    const auto unset = qScopeGuard([] { qunsetenv("VELMARIC_FTP_REPLY_TIMEOUT"); });
    const Login s(peer.server(), FtpServerPeer::password, passive);
    QVERIFY(s.connect);
    QTemporaryDir local;
    // Once more on the new connection when the server hung up after the transfer.
    const int rounds = serverArgs.contains("--close-after-transfer") ? 2 : 1;
    for (int round = 0; round < rounds; ++round) {
        QCOMPARE(listing(s.connect, pattern), expected);
        QCOMPARE(FtpCurrentDirectory(s.connect), home.toStdString());
        QVERIFY2(FtpGetFileA(s.connect, utf8Name.toUtf8().constData(),
                             local.filePath("u").toUtf8().constData(), false, 0,
                             FTP_TRANSFER_TYPE_BINARY, 0),
                 qPrintable(lastResponse()));
        QCOMPARE(readFile(local.filePath("u")), QByteArray("u"));
    }
}

void tst_FtpPlatform::transfers_data()
{
    QTest::addColumn<bool>("put");
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("source");   // on the sending side, null for none
    QTest::addColumn<QByteArray>("expected"); // on the receiving side, null when the call fails
    QTest::addColumn<DWORD>("error");

    QByteArray binary = "a\r\nb\n\r";
    for (unsigned i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        binary += char((i * 7919u) >> 3);
    const QByteArray text = "one\ntwo\r\nthree\n\rfour", none;
    const DWORD bin = FTP_TRANSFER_TYPE_BINARY, asc = FTP_TRANSFER_TYPE_ASCII;
    QTest::newRow("get binary, passive, utf-8 name")
        << false << bin << true << QString::fromUtf8("grüße #1%.txt") << binary << binary << 0u;
    QTest::newRow("get binary, active")
        << false << bin << false << "d.bin" << binary << binary << 0u;
    QTest::newRow("put binary, passive, utf-8 name")
        << true << bin << true << QString::fromUtf8("日本 ?.txt") << binary << binary << 0u;
    QTest::newRow("put binary, active")
        << true << bin << false << "d.bin" << binary << binary << 0u;
    // pyftpdlib sends LF as CR LF in ASCII mode and stores CR LF as LF.
    QTest::newRow("get ascii gives LF")
        << false << asc << true << "t.txt" << QByteArray("a\nb\nc") << QByteArray("a\nb\nc") << 0u;
    QTest::newRow("put ascii, CR LF not doubled")
        << true << asc << true << "t.txt" << text << QByteArray("one\ntwo\nthree\n\rfour") << 0u;
    QTest::newRow("empty file") << false << bin << true << "e" << QByteArray("") << QByteArray("")
                                << 0u;
    QTest::newRow("missing remote file")
        << false << bin << true << "nothere.txt" << none << none << ERROR_INTERNET_EXTENDED_ERROR;
    QTest::newRow("a folder") << false << bin << true << "sub" << none << none
                              << ERROR_INTERNET_EXTENDED_ERROR;
    QTest::newRow("line end in the name")
        << false << bin << true << "a\r\nDELE keep.txt" << none << none << ERROR_INVALID_NAME;
}

// A get replaces the local file only when it succeeds and leaves nothing else behind.
void tst_FtpPlatform::transfers()
{
    QFETCH(bool, put);
    QFETCH(DWORD, type);
    QFETCH(bool, passive);
    QFETCH(QString, name);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, expected);
    QFETCH(DWORD, error);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(peer.writeFile(home + "/keep.txt", "keep"));
    QVERIFY(QDir().mkpath(peer.root(home + "/sub")));
    QTemporaryDir local;
    const QString localPath = local.filePath(name), remotePath = home + '/' + name;
    QVERIFY(writeFile(localPath, put ? source : QByteArray("old contents")));
    if (!put && !source.isNull())
        QVERIFY(peer.writeFile(remotePath, source));
    const Login s(peer.server(), FtpServerPeer::password, passive);
    QVERIFY(s.connect);
    const QByteArray l = localPath.toUtf8(), r = name.toUtf8();
    const bool ok = put ? FtpPutFileA(s.connect, l.constData(), r.constData(), type, 0)
                        : FtpGetFileA(s.connect, r.constData(), l.constData(), false,
                                      INTERNET_FLAG_RELOAD, type, 0);
    QCOMPARE(ok ? 0u : GetLastError(), error);
    QCOMPARE(sha(put ? peer.readFile(remotePath) : readFile(localPath)),
             sha(ok ? expected : QByteArray("old contents")));
    QCOMPARE(localEntries(local), QStringList{name});
    QCOMPARE(peer.readFile(home + "/keep.txt"), QByteArray("keep"));
}

void tst_FtpPlatform::interrupted_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("timeout"); // set to 1 s for the row
    QTest::addColumn<QString>("action");     // taken once 100000 bytes (or a listing) ran
    QTest::addColumn<DWORD>("error");
    const QStringList stall{"--stall-after", "100000"}, hangMlsd{"--hang", "MLSD"};
    QTest::newRow("no greeting") << QStringList{} << "connect"
                                 << QByteArray("VELMARIC_FTP_CONNECT_TIMEOUT") << "" << 12002u;
    QTest::newRow("no reply to MLSD")
        << hangMlsd << "list" << QByteArray("VELMARIC_FTP_REPLY_TIMEOUT") << "" << 12002u;
    QTest::newRow("data stops") << stall << "get" << QByteArray("VELMARIC_FTP_STALL_TIMEOUT") << ""
                                << 12002u;
    QTest::newRow("no reply to QUIT at closing")
        << QStringList{"--hang", "QUIT"} << "close" << QByteArray() << "" << 0u;
    QTest::newRow("server killed mid-get") << stall << "get" << QByteArray() << "kill" << 12030u;
    QTest::newRow("cancel during a 200 MB get")
        << QStringList{} << "get" << QByteArray() << "cancel" << 12017u;
    QTest::newRow("cancel while the data stalls")
        << stall << "get" << QByteArray() << "cancel" << 12017u;
    QTest::newRow("cancel while waiting for a reply")
        << hangMlsd << "list" << QByteArray() << "cancel" << 12017u;
}

// Every way a call can hang or break ends promptly with its error and the local file intact.
void tst_FtpPlatform::interrupted()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(QString, call);
    QFETCH(QByteArray, timeout);
    QFETCH(QString, action);
    QFETCH(DWORD, error);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    QFile big(peer.root(home + "/big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(200 * 1024 * 1024)); // sparse
    big.close();
    QVERIFY(peer.writeFile(home + "/small.txt", "small"));
    if (!timeout.isEmpty())
        qputenv(timeout.constData(), "1");
    const auto unset = qScopeGuard([&] { qunsetenv(timeout.constData()); });
    QTemporaryDir local;
    const QString target = local.filePath("big.bin");
    QVERIFY(writeFile(target, "keep me"));
    QTcpServer silent; // listens, never answers
    QVERIFY(silent.listen(QHostAddress::LocalHost));

    FtpCallObserver observer;
    std::jthread canceller;
    observer.progress = [&](std::uint64_t done, std::uint64_t) {
        if (call == "get" && done < 100000)
            return;
        if (action == "kill")
            peer.kill();
        else if (action == "cancel" && !canceller.joinable()) // from another thread, as Cancel
            canceller = std::jthread([&observer] { observer.cancelled = true; });
    };
    std::optional<FtpObserverScope> scope(std::in_place, observer);
    QElapsedTimer clock;
    clock.start();
    Login s(call == "connect" ? QStringLiteral("127.0.0.1:%1").arg(silent.serverPort())
                              : peer.server());
    QCOMPARE(s.connect != 0, call != "connect");
    WIN32_FIND_DATA data;
    if (call == "close") {
        QVERIFY(InternetCloseHandle(s.connect));
        s.connect = 0;
    } else if (call == "list") {
        QCOMPARE(FtpFindFirstFileA(s.connect, "*.*", &data, 0, 0), HINTERNET(0));
    } else if (call == "get") {
        QVERIFY(!FtpGetFileA(s.connect, "big.bin", target.toUtf8().constData(), false, 0,
                             FTP_TRANSFER_TYPE_BINARY, 0));
    }
    QCOMPARE(call == "connect" ? s.error : call == "close" ? 0u : GetLastError(), error);
    QVERIFY2(clock.elapsed() < 10000, "not given up promptly");
    scope.reset();
    QCOMPARE(readFile(target), QByteArray("keep me"));
    QCOMPARE(localEntries(local), QStringList{"big.bin"});
    if (serverArgs.isEmpty() && s.connect) { // still usable: libcurl logs in again by itself
        QVERIFY(FtpGetFileA(s.connect, "small.txt", local.filePath("s").toUtf8().constData(), false,
                            0, FTP_TRANSFER_TYPE_BINARY, 0));
        QCOMPARE(readFile(local.filePath("s")), QByteArray("small"));
    }
}

QTEST_GUILESS_MAIN(tst_FtpPlatform)
#include "tst_ftpplatform.moc"

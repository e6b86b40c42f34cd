#include "ftpserver.h"
#include "wininet.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <future>
#include <thread>

// The WinINet functions against a real FTP server on loopback.
namespace {

// A session and a connection, closed on scope exit.
struct Login {
    HINTERNET open = 0;
    HINTERNET connect = 0;
    DWORD error = 0;
    Login(const QString &server, const char *password = FtpServerPeer::password,
          bool passive = true, const QString &proxy = {})
    {
        const QByteArray proxyText = proxy.toUtf8();
        open = InternetOpenA("vb wininet",
                             proxy.isEmpty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                             proxyText.constData(), nullptr, 0);
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
    std::string text(length + 1, '\0');
    ++length;
    if (!InternetGetLastResponseInfoA(&number, text.data(), &length))
        return "(no reply)";
    return QString::number(number) + ' ' + QString::fromStdString(text.substr(0, length));
}

// Every entry of the current directory, "d name" or "f name"; the find error last when not 18.
QStringList listing(HINTERNET connect, const char *pattern = "*.*")
{
    QStringList out;
    WIN32_FIND_DATA data;
    const HINTERNET find = FtpFindFirstFileA(connect, pattern, &data, 0, 0);
    if (!find)
        return {QStringLiteral("error %1").arg(GetLastError())};
    do
        out << (data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "d " : "f ") +
                   QString::fromStdString(data.cFileName);
    while (InternetFindNextFileA(find, &data));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        out << QStringLiteral("error %1").arg(GetLastError());
    InternetCloseHandle(find);
    return out;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

QByteArray sha(const QByteArray &b)
{
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

// Environment variables set for one test, put back afterwards.
struct EnvGuard {
    QList<QByteArray> names;
    explicit EnvGuard(const QList<std::pair<QByteArray, QByteArray>> &vars)
    {
        for (const auto &[n, v] : vars) {
            qputenv(n.constData(), v);
            names << n;
        }
    }
    ~EnvGuard()
    {
        for (const auto &n : names)
            qunsetenv(n.constData());
    }
};

QByteArray binaryPayload(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((unsigned(i) * 7919u) >> 3);
    return b;
}

} // namespace

class tst_FtpPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void login_data();
    void login();
    void listings_data();
    void listings();
    void manyEntries_data();
    void manyEntries();
    void directories_data();
    void directories();
    void transfers_data();
    void transfers();
    void getReplacesOnlyOnSuccess_data();
    void getReplacesOnlyOnSuccess();
    void stalls_data();
    void stalls();
    void cancel_data();
    void cancel();
    void threadHandOver();
    void utf8AfterReconnect();
};

void tst_FtpPlatform::login_data()
{
    QTest::addColumn<QString>("server"); // "peer": the fixture's server
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<DWORD>("error");
    QTest::addColumn<QString>("reply"); // start of the last response after a failure

    QTest::newRow("good password")
        << "peer" << QByteArray(FtpServerPeer::password) << DWORD(0) << "";
    QTest::newRow("bad password") << "peer" << QByteArray("wrong") << ERROR_INTERNET_EXTENDED_ERROR
                                  << "530 ";
    QTest::newRow("nobody listening")
        << "closed" << QByteArray("x") << ERROR_INTERNET_CANNOT_CONNECT << "";
    QTest::newRow("not a host name")
        << "no such/host" << QByteArray("x") << ERROR_INTERNET_NAME_NOT_RESOLVED << "";
    QTest::newRow("empty server text")
        << "" << QByteArray("x") << ERROR_INTERNET_NAME_NOT_RESOLVED << "";
}

void tst_FtpPlatform::login()
{
    QFETCH(QString, server);
    QFETCH(QByteArray, password);
    QFETCH(DWORD, error);
    QFETCH(QString, reply);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    if (server == "peer") {
        server = peer.server();
    } else if (server == "closed") {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        server = QStringLiteral("127.0.0.1:%1").arg(gone.serverPort());
    }
    const Login s(server, password.constData());
    QCOMPARE(s.error, error);
    QCOMPARE(s.connect != 0, error == 0);
    if (!error) {
        QCOMPARE(FtpLoginDirectory(s.connect), std::string(FtpServerPeer::home));
        QCOMPARE(FtpCurrentDirectory(s.connect), std::string(FtpServerPeer::home));
    }
    if (!reply.isEmpty())
        QVERIFY2(lastResponse().startsWith(reply), qPrintable(lastResponse()));
}

void tst_FtpPlatform::listings_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QStringList>("expected");

    const QStringList home{"d a dir", "f b file.txt", QString::fromUtf8("f grüße 日本.txt")};
    // The command not meant for the server gets no reply, so using it would fail the row.
    QTest::newRow("mlsd, passive") << QStringList{"--hang", "LIST"} << true << "" << home;
    QTest::newRow("mlsd, active") << QStringList{"--hang", "LIST"} << false << "" << home;
    QTest::newRow("list, passive")
        << QStringList{"--no-mlsd", "--hang", "MLSD"} << true << "" << home;
    QTest::newRow("list, active") << QStringList{"--no-mlsd", "--hang", "MLSD"} << false << ""
                                  << home;
    QTest::newRow("empty folder") << QStringList{} << true << "a dir" << QStringList{"error 18"};
    QTest::newRow("root") << QStringList{} << true << "/" << QStringList{"d home"};
}

void tst_FtpPlatform::listings()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(bool, passive);
    QFETCH(QString, directory);
    QFETCH(QStringList, expected);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    const QString home = peer.root(FtpServerPeer::home);
    QVERIFY(QDir().mkpath(home + "/a dir"));
    QVERIFY(peer.writeFile(QString(FtpServerPeer::home) + "/b file.txt", "b"));
    QVERIFY(
        peer.writeFile(QString(FtpServerPeer::home) + QString::fromUtf8("/grüße 日本.txt"), "u"));

    const EnvGuard env({{QByteArray("VELMARIC_FTP_REPLY_TIMEOUT"), QByteArray("5")}});
    const Login s(peer.server(), FtpServerPeer::password, passive);
    QVERIFY(s.connect);
    if (!directory.isEmpty())
        QVERIFY(FtpSetCurrentDirectoryA(s.connect, directory.toUtf8().constData()));
    QStringList got = listing(s.connect);
    if (got.size() > 1)
        got.sort(); // the server's order is its file system's
    QCOMPARE(got, expected);
}

void tst_FtpPlatform::manyEntries_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::newRow("mlsd") << QStringList{"--make-files", "10000"};
    QTest::newRow("list") << QStringList{"--make-files", "10000", "--no-mlsd"};
}

void tst_FtpPlatform::manyEntries()
{
    QFETCH(QStringList, serverArgs);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    const Login s(peer.server());
    QVERIFY(s.connect);
    QStringList got = listing(s.connect, "many"); // a folder named by the pattern
    QCOMPARE(FtpCurrentDirectory(s.connect), std::string(FtpServerPeer::home));
    QCOMPARE(got.size(), 10000);
    got.sort();
    QCOMPARE(got.front(), "f file000000.txt");
    QCOMPARE(got.back(), "f file009999.txt");
}

void tst_FtpPlatform::directories_data()
{
    QTest::addColumn<QStringList>("steps"); // each changes from the previous directory
    QTest::addColumn<QString>("current");   // "" when the last step must fail with 550
    QTest::newRow("relative") << QStringList{"sub"} << "/home/velmaric/sub";
    QTest::newRow("absolute") << QStringList{"sub", "/home"} << "/home";
    QTest::newRow("parent") << QStringList{"sub", ".."} << "/home/velmaric";
    QTest::newRow("blank, percent, hash")
        << QStringList{"odd %20 #name?"} << "/home/velmaric/odd %20 #name?";
    QTest::newRow("missing") << QStringList{"nothere"} << "";
}

void tst_FtpPlatform::directories()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, current);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(QDir().mkpath(peer.root("/home/velmaric/sub")));
    QVERIFY(QDir().mkpath(peer.root("/home/velmaric/odd %20 #name?")));
    const Login s(peer.server());
    QVERIFY(s.connect);
    bool ok = true;
    for (const auto &step : steps)
        ok = FtpSetCurrentDirectoryA(s.connect, step.toUtf8().constData());
    if (current.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY2(lastResponse().startsWith("550 "), qPrintable(lastResponse()));
        QCOMPARE(FtpCurrentDirectory(s.connect), std::string(FtpServerPeer::home));
    } else {
        QVERIFY(ok);
        QCOMPARE(QString::fromStdString(FtpCurrentDirectory(s.connect)), current);
    }
}

void tst_FtpPlatform::transfers_data()
{
    QTest::addColumn<bool>("put");
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("source");   // bytes on the sending side
    QTest::addColumn<QByteArray>("expected"); // bytes on the receiving side

    const QByteArray binary = binaryPayload(3 * 1024 * 1024 + 17);
    const QByteArray text = "one\ntwo\r\nthree\n\rfour";
    const DWORD bin = FTP_TRANSFER_TYPE_BINARY, asc = FTP_TRANSFER_TYPE_ASCII;
    QTest::newRow("get binary, passive") << false << bin << true << "data.bin" << binary << binary;
    QTest::newRow("get binary, active") << false << bin << false << "data.bin" << binary << binary;
    QTest::newRow("put binary, passive") << true << bin << true << "data.bin" << binary << binary;
    QTest::newRow("put binary, active") << true << bin << false << "data.bin" << binary << binary;
    QTest::newRow("get binary keeps CR LF") << false << bin << true << "t.txt" << text << text;
    // pyftpdlib sends LF as CR LF in ASCII mode and stores CR LF as LF.
    QTest::newRow("get ascii gives LF")
        << false << asc << true << "t.txt" << QByteArray("a\nb\nc") << QByteArray("a\nb\nc");
    QTest::newRow("put ascii, CR LF not doubled")
        << true << asc << true << "t.txt" << text << QByteArray("one\ntwo\nthree\n\rfour");
    QTest::newRow("get utf-8 name")
        << false << bin << true << QString::fromUtf8("grüße #1%.txt") << text << text;
    QTest::newRow("put utf-8 name")
        << true << bin << true << QString::fromUtf8("日本 ?.txt") << text << text;
    QTest::newRow("empty file") << false << bin << true << "empty" << QByteArray() << QByteArray();
}

void tst_FtpPlatform::transfers()
{
    QFETCH(bool, put);
    QFETCH(DWORD, type);
    QFETCH(bool, passive);
    QFETCH(QString, name);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, expected);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QTemporaryDir local;
    const QString remotePath = QString(FtpServerPeer::home) + "/" + name;
    const QString localPath = local.filePath(name);
    const Login s(peer.server(), FtpServerPeer::password, passive);
    QVERIFY(s.connect);
    const QByteArray remoteName = name.toUtf8();
    if (put) {
        QFile f(localPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(source);
        f.close();
        QVERIFY2(
            FtpPutFileA(s.connect, localPath.toUtf8().constData(), remoteName.constData(), type, 0),
            qPrintable(QString::number(GetLastError()) + ' ' + lastResponse()));
        QCOMPARE(sha(peer.readFile(remotePath)), sha(expected));
    } else {
        QVERIFY(peer.writeFile(remotePath, source));
        QVERIFY2(FtpGetFileA(s.connect, remoteName.constData(), localPath.toUtf8().constData(),
                             false, INTERNET_FLAG_RELOAD, type, 0),
                 qPrintable(QString::number(GetLastError()) + ' ' + lastResponse()));
        QCOMPARE(sha(fileBytes(localPath)), sha(expected));
        QCOMPARE(
            QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{name});
    }
}

void tst_FtpPlatform::getReplacesOnlyOnSuccess_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<DWORD>("error");
    QTest::newRow("replaced") << "new.txt" << true << DWORD(0);
    QTest::newRow("missing remote file") << "nothere.txt" << false << ERROR_INTERNET_EXTENDED_ERROR;
    QTest::newRow("a folder") << "sub" << false << ERROR_INTERNET_EXTENDED_ERROR;
    QTest::newRow("line end in the name") << "a\r\nDELE new.txt" << false << ERROR_INVALID_NAME;
}

void tst_FtpPlatform::getReplacesOnlyOnSuccess()
{
    QFETCH(QString, remote);
    QFETCH(bool, ok);
    QFETCH(DWORD, error);
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(peer.writeFile("/home/velmaric/new.txt", "new contents"));
    QVERIFY(QDir().mkpath(peer.root("/home/velmaric/sub")));
    QTemporaryDir local;
    const QString target = local.filePath("target.txt");
    QFile f(target);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("old contents");
    f.close();
    const Login s(peer.server());
    QVERIFY(s.connect);
    QCOMPARE(FtpGetFileA(s.connect, remote.toUtf8().constData(), target.toUtf8().constData(), false,
                         0, FTP_TRANSFER_TYPE_BINARY, 0),
             ok);
    QCOMPARE(GetLastError(), error);
    QCOMPARE(fileBytes(target), ok ? QByteArray("new contents") : QByteArray("old contents"));
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"target.txt"});
    QCOMPARE(peer.readFile("/home/velmaric/new.txt"), QByteArray("new contents"));
}

void tst_FtpPlatform::stalls_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<DWORD>("error");
    QTest::newRow("no greeting") << "connect" << QStringList{}
                                 << QByteArray("VELMARIC_FTP_CONNECT_TIMEOUT")
                                 << ERROR_INTERNET_TIMEOUT;
    QTest::newRow("no reply to MLSD")
        << "list" << QStringList{"--hang", "MLSD"} << QByteArray("VELMARIC_FTP_REPLY_TIMEOUT")
        << ERROR_INTERNET_TIMEOUT;
    QTest::newRow("data stops") << "get" << QStringList{"--stall-after", "100000"}
                                << QByteArray("VELMARIC_FTP_STALL_TIMEOUT")
                                << ERROR_INTERNET_TIMEOUT;
    QTest::newRow("no reply to QUIT at closing")
        << "close" << QStringList{"--hang", "QUIT"} << QByteArray("VELMARIC_FTP_REPLY_TIMEOUT")
        << DWORD(0);
    QTest::newRow("server killed mid-get")
        << "kill" << QStringList{"--stall-after", "100000"}
        << QByteArray("VELMARIC_FTP_STALL_TIMEOUT") << ERROR_INTERNET_CONNECTION_ABORTED;
}

void tst_FtpPlatform::stalls()
{
    QFETCH(QString, what);
    QFETCH(QStringList, serverArgs);
    QFETCH(QByteArray, variable);
    QFETCH(DWORD, error);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(peer.writeFile("/home/velmaric/big.bin", binaryPayload(1024 * 1024)));
    // Short for the stall under test; a killed server must be noticed without it.
    const EnvGuard env({{variable, what == "kill" || what == "close" ? "60" : "1"}});
    QTemporaryDir local;
    const QString target = local.filePath("big.bin");
    QFile f(target);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();

    QElapsedTimer clock;
    clock.start();
    if (what == "connect") {
        QTcpServer silent; // listens, never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const Login s(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
        QCOMPARE(s.connect, HINTERNET(0));
        QCOMPARE(s.error, error);
    } else {
        Login s(peer.server());
        QVERIFY(s.connect);
        if (what == "close") {
            QVERIFY(InternetCloseHandle(s.connect));
            s.connect = 0;
            QVERIFY2(clock.elapsed() < 10000, "closing waited too long");
            SetLastError(0);
        } else if (what == "list") {
            WIN32_FIND_DATA data;
            QCOMPARE(FtpFindFirstFileA(s.connect, "*.*", &data, 0, 0), HINTERNET(0));
        } else {
            FtpCallObserver observer;
            observer.progress = [&](std::uint64_t done, std::uint64_t) {
                if (what == "kill" && done >= 100000)
                    peer.kill();
            };
            const FtpObserverScope scope(observer);
            QVERIFY(!FtpGetFileA(s.connect, "big.bin", target.toUtf8().constData(), false, 0,
                                 FTP_TRANSFER_TYPE_BINARY, 0));
        }
        QCOMPARE(GetLastError(), error);
    }
    QVERIFY2(clock.elapsed() < 30000, "gave up far too late");
    QCOMPARE(fileBytes(target), QByteArray("keep me"));
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"big.bin"});
}

void tst_FtpPlatform::cancel_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<bool>("get");
    QTest::newRow("during a 200 MB get") << QStringList{} << true;
    QTest::newRow("while the data stalls") << QStringList{"--stall-after", "100000"} << true;
    QTest::newRow("while waiting for a reply") << QStringList{"--hang", "MLSD"} << false;
}

void tst_FtpPlatform::cancel()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(bool, get);
    FtpServerPeer peer(serverArgs);
    REQUIRE_FTP_SERVER(peer);
    QFile big(peer.root("/home/velmaric/big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(200 * 1024 * 1024)); // sparse: no disk needed
    big.close();
    QTemporaryDir local;
    const Login s(peer.server());
    QVERIFY(s.connect);

    // The observer is told from another thread, as the window's Cancel button does.
    FtpCallObserver observer;
    std::promise<void> started;
    bool told = false;
    observer.progress = [&](std::uint64_t done, std::uint64_t) {
        if (!told && (!get || done >= 100000)) {
            told = true;
            started.set_value();
        }
    };
    std::thread canceller([&observer, running = started.get_future()] {
        running.wait_for(std::chrono::seconds(20));
        observer.cancelled = true;
    });
    QElapsedTimer clock;
    clock.start();
    {
        const FtpObserverScope scope(observer);
        if (get) {
            QVERIFY(!FtpGetFileA(s.connect, "big.bin",
                                 local.filePath("big.bin").toUtf8().constData(), false, 0,
                                 FTP_TRANSFER_TYPE_BINARY, 0));
        } else {
            WIN32_FIND_DATA data;
            QCOMPARE(FtpFindFirstFileA(s.connect, "*.*", &data, 0, 0), HINTERNET(0));
        }
    }
    canceller.join();
    QCOMPARE(GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    QVERIFY2(clock.elapsed() < 10000, "cancel was not prompt");
    QVERIFY(QDir(local.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // The connection is still usable: libcurl logs in again by itself.
    QVERIFY(peer.writeFile("/home/velmaric/small.txt", "small"));
    if (!serverArgs.isEmpty())
        return; // the server keeps stalling or hanging
    QVERIFY(FtpGetFileA(s.connect, "small.txt", local.filePath("small.txt").toUtf8().constData(),
                        false, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    QCOMPARE(fileBytes(local.filePath("small.txt")), QByteArray("small"));
}

// The window fails on a worker thread and reports on its own.
void tst_FtpPlatform::threadHandOver()
{
    FtpServerPeer peer;
    REQUIRE_FTP_SERVER(peer);
    FtpLastError saved;
    std::thread worker([&] {
        const Login s(peer.server(), "wrong");
        saved = FtpSaveLastError();
    });
    worker.join();
    SetLastError(0);
    FtpRestoreLastError(saved);
    QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY2(lastResponse().startsWith("530 530 "), qPrintable(lastResponse()));
}

// The server ends the connection after every transfer; each new one needs OPTS UTF8 ON again.
void tst_FtpPlatform::utf8AfterReconnect()
{
    FtpServerPeer peer({"--require-utf8-opts", "--close-after-transfer"});
    REQUIRE_FTP_SERVER(peer);
    QVERIFY(peer.writeFile(QString::fromUtf8("/home/velmaric/ä.txt"), "a"));
    QTemporaryDir local;
    const Login s(peer.server());
    QVERIFY(s.connect);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(listing(s.connect), QStringList{QString::fromUtf8("f ä.txt")});
        QVERIFY2(FtpGetFileA(s.connect, "ä.txt", local.filePath("a").toUtf8().constData(), false, 0,
                             FTP_TRANSFER_TYPE_BINARY, 0),
                 qPrintable(lastResponse()));
    }
}

QTEST_GUILESS_MAIN(tst_FtpPlatform)
#include "tst_ftpplatform.moc"

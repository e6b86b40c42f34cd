#include "ftpreply.h"
#include "ftpurl.h"
#include "tablerows.h"

#include <QtTest>

// The pure text functions of the FTP layer, row by row: replies, server texts, 257 paths.
class tst_FtpText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void replies_data();
    void replies();
    void servers_data();
    void servers();
    void path257_data();
    void path257();

private:
    static void rows(const char *table)
    {
        QTest::addColumn<QStringList>("row");
        for (const QStringList &row : tableRows(table))
            QTest::newRow(qPrintable(row[0])) << row;
    }
};

static const char replyTable[] = R"(
single :: 220 ready\r\n :: 220 220 ready
multi-line, ends at its own number only :: 211-Features:\r\n 211 not yet\r\n211-still\r\n211 End\r\n
    :: 211 211-Features:\r\n 211 not yet\r\n211-still\r\n211 End
proxy lines skipped, LF ends :: HTTP/1.1 200 OK\n\n150 here\n226 done\n :: 150 150 here | 226 226 done
not a reply :: 22 short\r\n2200 long\r\nabc def\r\n ::
cut before its end :: 230-one\r\n230 tw ::
bare code :: 421\r\n :: 421 421
)";

// Cells: server text :: port argument :: scheme authority, or the error. (IPv6 addresses are
// written without "::", the cell separator.)
static const char serverTable[] = R"(
bare host :: host :: 0 :: ftp host:21
host and port :: host:2121 :: 0 :: ftp host:2121
port argument :: host :: 99 :: ftp host:99
named port wins :: host:21 :: 99 :: ftp host:21
ftp prefix, trailing slash :: ftp://host/ :: 0 :: ftp host:21
ftpes :: FTPES://host :: 0 :: ftpes host:21
ftps implicit :: ftps://host :: 0 :: ftps host:990
sftp :: sftp://[0:0:0:0:0:0:0:1] :: 0 :: sftp [0:0:0:0:0:0:0:1]:22
bare v6 :: fe80:0:0:0:0:0:0:1 :: 0 :: ftp [fe80:0:0:0:0:0:0:1]:21
v6 with port :: ftps://[0:0:0:0:0:0:0:1]:2990 :: 0 :: ftps [0:0:0:0:0:0:0:1]:2990
unknown scheme :: http://host :: 0 :: unknown
empty :: '' :: 0 :: bad
path after the host :: ftp://host/pub :: 0 :: bad
user in the text :: ftp://me@host :: 0 :: bad
port zero :: host:0 :: 0 :: bad
port too big :: host:65536 :: 0 :: bad
port signed :: host:+21 :: 0 :: bad
line end in the host :: ho\r\nst :: 0 :: bad
unclosed bracket :: [0:0:0:0:0:0:0:1 :: 0 :: bad
)";

static const char path257Table[] = R"(
plain :: 257 "/pub" is current :: /pub
doubled quotes :: 257 "/a ""b"" c" created :: /a "b" c
no quotes :: 257 /pub ::
unclosed :: 257 "/pub ::
empty name :: 257 "" ::
)";


void tst_FtpText::replies_data() { rows(replyTable); }
void tst_FtpText::servers_data() { rows(serverTable); }
void tst_FtpText::path257_data() { rows(path257Table); }

// Fed a byte at a time, as a slow server sends them.
void tst_FtpText::replies()
{
    QFETCH(QStringList, row);
    FtpReplyParser parser;
    for (const char c : row[1].toUtf8())
        parser.feed(std::string_view(&c, 1));
    QStringList got;
    for (const FtpReply &r : parser.replies())
        got << QString::number(r.code) + ' ' + QString::fromStdString(r.text);
    QCOMPARE(got, row.value(2).split(QRegularExpression(" *\\| *"), Qt::SkipEmptyParts));
}

void tst_FtpText::servers()
{
    QFETCH(QStringList, row);
    RemoteServer server;
    const QString text = row[1] == "''" ? QString() : row[1];
    const ServerTextError error = parseServerText(text.toStdString(), row[2].toUShort(), server);
    const QString got = error == ServerTextError::UnknownScheme ? "unknown"
                        : error == ServerTextError::BadAuthority
                            ? "bad"
                            : QString(schemeName(server.scheme)) + ' ' +
                                  QString::fromStdString(server.authority());
    QCOMPARE(got, row[3]);
}

void tst_FtpText::path257()
{
    QFETCH(QStringList, row);
    QCOMPARE(QString::fromStdString(pathOf257(row[1].toStdString())), row.value(2));
}

QTEST_GUILESS_MAIN(tst_FtpText)
#include "tst_ftptext.moc"

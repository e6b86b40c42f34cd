#pragma once
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// HTTP/1.0 on 127.0.0.1: fixed pages by path, each answered after its delay; other paths get 404.
struct LocalHttpServer : QTcpServer {
    struct Page {
        QByteArray body, type = "text/html";
        int delayMs = 0;
    };
    QHash<QString, Page> pages;
    QHash<QString, int> hits;
    LocalHttpServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
            }
        });
    }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
    void serve(QTcpSocket *s)
    {
        if (!s->canReadLine() || s->property("answered").toBool())
            return;
        s->setProperty("answered", true);
        const QString path =
            QString::fromLatin1(s->readLine().split(' ').value(1)).section(u'?', 0, 0);
        ++hits[path];
        const Page p = pages.value(path, Page{"not found", "text/plain"});
        const QByteArray reply =
            QByteArray(pages.contains(path) ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") +
            "\r\nContent-Type: " + p.type +
            "\r\nCache-Control: no-store\r\nContent-Length: " + QByteArray::number(p.body.size()) +
            "\r\nConnection: close\r\n\r\n" + p.body;
        QTimer::singleShot(p.delayMs, s, [s, reply] {
            s->write(reply);
            s->disconnectFromHost();
        });
    }
};

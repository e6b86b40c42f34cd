#include "localhttpserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

LocalHttpServer::LocalHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
}

bool LocalHttpServer::listen() { return m_server.listen(QHostAddress::LocalHost, 0); }

void LocalHttpServer::addPage(const QString &path, const QByteArray &body, int delayMs,
                              const QByteArray &contentType)
{
    m_pages.insert(path, Page{body, contentType, delayMs});
}

QUrl LocalHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void LocalHttpServer::serve(QTcpSocket *socket)
{
    if (!socket->canReadLine() || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> request = socket->readLine().trimmed().split(' ');
    const QString path = request.size() >= 2 ? QString::fromLatin1(request[1]).section(QLatin1Char('?'), 0, 0)
                                             : QString();
    ++m_hits[path];
    const auto it = m_pages.constFind(path);
    QByteArray reply;
    if (it == m_pages.constEnd()) {
        reply = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                "Connection: close\r\n\r\nnot found";
    } else {
        reply = "HTTP/1.0 200 OK\r\nContent-Type: " + it->contentType +
                "\r\nCache-Control: no-store\r\nContent-Length: " + QByteArray::number(it->body.size()) +
                "\r\nConnection: close\r\n\r\n" + it->body;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(it == m_pages.constEnd() ? 0 : it->delayMs, this, [guard, reply] {
        if (!guard)
            return;
        guard->write(reply);
        guard->disconnectFromHost();
    });
}

#pragma once
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

// A small HTTP/1.0 server on 127.0.0.1 for browser tests: fixed pages by path, each with an
// optional delay before it is answered. Unknown paths get 404.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    explicit LocalHttpServer(QObject *parent = nullptr);
    bool listen();
    void addPage(const QString &path, const QByteArray &body, int delayMs = 0,
                 const QByteArray &contentType = "text/html; charset=utf-8");
    QUrl url(const QString &path) const;
    // Number of requests served for a path.
    int hits(const QString &path) const { return m_hits.value(path); }

private:
    struct Page {
        QByteArray body;
        QByteArray contentType;
        int delayMs = 0;
    };
    void serve(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QString, Page> m_pages;
    QHash<QString, int> m_hits;
};

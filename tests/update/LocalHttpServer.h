#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

#include <memory>

class QSslConfiguration;
class QTcpServer;
class QTcpSocket;

// A one-answer HTTP/1.1 server on 127.0.0.1 for the update check to talk to.
// It records the head of every request, answers each with the same canned
// status and body, and closes the connection. Plain or, given a TLS
// configuration, HTTPS. It serves a handful of connections at most, so a
// runaway client cannot keep it busy.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    LocalHttpServer();
    explicit LocalHttpServer(const QSslConfiguration& tls);
    ~LocalHttpServer() override;

    bool listen();
    // The address of /appinfo on this server.
    QUrl appInfoUrl() const;

    void answer(int status, const QByteArray& body);
    // Reads requests but never answers, to keep a client waiting.
    void holdAnswers();

    QList<QByteArray> requestHeads() const;
    int handshakesStarted() const;
    int connectionsClosed() const;

private:
    void acceptPending();
    void serve(QTcpSocket* socket);
    QByteArray response() const;

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    bool m_holding = false;
    int m_status = 200;
    QByteArray m_body;
    QList<QByteArray> m_requestHeads;
    int m_connections = 0;
    int m_handshakesStarted = 0;
    int m_connectionsClosed = 0;
};

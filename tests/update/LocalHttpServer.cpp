#include "LocalHttpServer.h"

#include <QHostAddress>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int maxConnections = 8;
constexpr qsizetype maxHeadSize = 64 * 1024;

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

LocalHttpServer::LocalHttpServer()
    : m_server(std::make_unique<QTcpServer>())
{
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &LocalHttpServer::acceptPending);
}

LocalHttpServer::LocalHttpServer(const QSslConfiguration& tls)
    : m_tls(true)
{
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    connect(server.get(), &QSslServer::startedEncryptionHandshake, this,
            [this] { ++m_handshakesStarted; });
    m_server = std::move(server);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &LocalHttpServer::acceptPending);
}

LocalHttpServer::~LocalHttpServer() = default;

bool LocalHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl LocalHttpServer::appInfoUrl() const
{
    QUrl url;
    url.setScheme(m_tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server->serverPort());
    url.setPath(QStringLiteral("/appinfo"));
    return url;
}

void LocalHttpServer::answer(int status, const QByteArray& body)
{
    m_status = status;
    m_body = body;
}

void LocalHttpServer::holdAnswers()
{
    m_holding = true;
}

QList<QByteArray> LocalHttpServer::requestHeads() const
{
    return m_requestHeads;
}

int LocalHttpServer::handshakesStarted() const
{
    return m_handshakesStarted;
}

int LocalHttpServer::connectionsClosed() const
{
    return m_connectionsClosed;
}

void LocalHttpServer::acceptPending()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (++m_connections > maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            ++m_connectionsClosed;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        serve(socket);
    }
}

void LocalHttpServer::serve(QTcpSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray buffered = socket->peek(maxHeadSize);
    const qsizetype headEnd = buffered.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (buffered.size() >= maxHeadSize)
            socket->abort();
        return;
    }
    m_requestHeads.append(socket->read(headEnd + 4));
    socket->setProperty("answered", true);
    if (m_holding)
        return;
    socket->write(response());
    socket->disconnectFromHost();
}

QByteArray LocalHttpServer::response() const
{
    return "HTTP/1.1 " + QByteArray::number(m_status) + ' ' + reasonFor(m_status) + "\r\n"
        + "Content-Type: application/json\r\n"
        + "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n"
        + "Connection: close\r\n\r\n" + m_body;
}

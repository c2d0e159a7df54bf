#include "testhttpserver.h"

#include <QTcpSocket>

TTestHttpServer::TTestHttpServer()
{
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            // Sockets are children of the server and go with it.
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

TTestHttpServer::~TTestHttpServer()
{
    server_.close();
}

QString TTestHttpServer::Base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(Port());
}

int TTestHttpServer::RequestsFor(const QByteArray &path) const
{
    int n = 0;
    for (const TTestRequest &r : requests_)
        n += r.path == path;
    return n;
}

void TTestHttpServer::Serve(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("request", buffer);
        return;
    }
    socket->setProperty("request", QByteArray());

    TTestRequest request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    requests_.append(request);

    const auto found = routes_.constFind(request.path);
    TTestRoute route;
    if (found != routes_.constEnd()) {
        route = *found;
    } else {
        route.status = 404;
        route.body = "not here";
    }
    if (route.behaviour == TTestRoute::Stall)
        return;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\n";
    if (route.announceLength)
        head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto &h : route.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    socket->write(head);
    switch (route.behaviour) {
    case TTestRoute::Whole:
        socket->write(route.body);
        socket->disconnectFromHost();
        break;
    case TTestRoute::CutShort:
        socket->write(route.body.left(route.cutAt));
        socket->disconnectFromHost();
        break;
    case TTestRoute::StallInBody:
        socket->write(route.body.left(route.cutAt));
        break;
    case TTestRoute::Stall:
        break;
    }
}

quint16 ClosedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

TBlackHolePort::TBlackHolePort()
{
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(listen_, 0) != 0
        || ::getsockname(listen_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (filler_ < 0)
        return;
    ::connect(filler_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    pollfd pfd{filler_, POLLOUT, 0};
    ::poll(&pfd, 1, 1000);
    // Is the queue full now? A second attempt must stay pending.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return;
    if (::connect(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 && errno == EINPROGRESS) {
        pollfd p{probe, POLLOUT, 0};
        ok_ = ::poll(&p, 1, 300) == 0;
    }
    ::close(probe);
}

TBlackHolePort::~TBlackHolePort()
{
    if (filler_ >= 0)
        ::close(filler_);
    if (listen_ >= 0)
        ::close(listen_);
}

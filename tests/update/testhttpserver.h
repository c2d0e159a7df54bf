#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests. It runs on the test's (main) thread,
// so it answers only while the test pumps the event loop. Each path gets a canned answer, which
// may be cut short or may never come.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

struct TTestRoute {
    enum TBehaviour {
        Whole, // headers and the whole body, then close
        CutShort, // announces the whole body, sends `cutAt` bytes of it, then closes
        Stall, // reads the request and never answers
        StallInBody, // headers and `cutAt` bytes, then silence with the connection open
    };
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    TBehaviour behaviour = Whole;
    qint64 cutAt = 0;
    bool announceLength = true; // false: no Content-Length, the body ends where the connection does
};

struct TTestRequest {
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

class TTestHttpServer {
public:
    TTestHttpServer();
    ~TTestHttpServer();

    bool Listening() const { return server_.isListening(); }
    quint16 Port() const { return server_.serverPort(); }
    QString Base() const; // "http://127.0.0.1:<port>"

    void Route(const QByteArray &path, const TTestRoute &route) { routes_[path] = route; }
    const QList<TTestRequest> &Requests() const { return requests_; }
    int RequestsFor(const QByteArray &path) const;

private:
    void Serve(QTcpSocket *socket);

    QTcpServer server_;
    QHash<QByteArray, TTestRoute> routes_;
    QList<TTestRequest> requests_;
};

// A port on 127.0.0.1 on which nothing listens (bound a moment ago, then released).
quint16 ClosedLoopbackPort();

// A port on 127.0.0.1 where connections hang unanswered: a listening socket with no room in its
// queue and one connection filling it, so that further connection attempts wait (their SYNs are
// dropped) until the caller gives up.
class TBlackHolePort {
public:
    TBlackHolePort();
    ~TBlackHolePort();
    TBlackHolePort(const TBlackHolePort &) = delete;
    TBlackHolePort &operator=(const TBlackHolePort &) = delete;

    // False when this system completes the connections anyway (then the port is no black hole).
    bool Ok() const { return ok_; }
    quint16 Port() const { return port_; }

private:
    int listen_ = -1;
    int filler_ = -1;
    quint16 port_ = 0;
    bool ok_ = false;
};

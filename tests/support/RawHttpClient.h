#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

// Talks to the studio's HTTP servers over a raw loopback TCP connection, so the exact bytes on
// the wire can be checked. The servers run on the test's thread, so every wait spins its loop.
namespace RawHttpClient {

// Sends the segments one by one (pausing between them so that they arrive apart) and returns
// everything received until the server closed the connection, or what came within timeoutMs.
inline QByteArray exchange(quint16 port, const QList<QByteArray> &segments,
                           const QHostAddress &local = QHostAddress::LocalHost,
                           int timeoutMs = 5000)
{
    QTcpSocket socket;
    if (!socket.bind(local))
        return "bind failed";
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return "connect failed";
    for (int i = 0; i < segments.size(); ++i) {
        if (i > 0)
            QTest::qWait(50);
        socket.write(segments.at(i));
        socket.flush();
    }
    if (closed.isEmpty())
        closed.wait(timeoutMs);
    return socket.readAll();
}

inline QByteArray get(quint16 port, const QByteArray &path,
                      const QHostAddress &local = QHostAddress::LocalHost)
{
    return exchange(port, {"GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n"}, local);
}

// The body of a response, after the blank line that ends its headers.
inline QByteArray body(const QByteArray &response)
{
    const int end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

// The status line the servers send for a code, as HTTP names them.
inline QByteArray statusLine(const QByteArray &status)
{
    static const QHash<QByteArray, QByteArray> phrases{{"200", "OK"},
                                                       {"400", "Bad Request"},
                                                       {"404", "Not Found"},
                                                       {"429", "Too Many Requests"},
                                                       {"500", "Internal Server Error"},
                                                       {"503", "Service Unavailable"}};
    return "HTTP/1.0 " + status + ' ' + phrases.value(status, "?") + "\r\n";
}

inline QByteArray textReply(const QByteArray &status, const QByteArray &body)
{
    return statusLine(status) + "Content-Type: text/html; charset=\"utf-8\"\r\nContent-length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A JSON document or a static file as the servers send them: typed, with sniffing forbidden.
inline QByteArray typedReply(const QByteArray &type, const QByteArray &body)
{
    return statusLine("200") + "Content-Type: " + type +
           "\r\nX-Content-Type-Options: nosniff\r\nContent-length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

inline QByteArray jsonReply(const QByteArray &body)
{
    return typedReply("application/json; charset=\"utf-8\"", body);
}

inline QByteArray notFound()
{
    return statusLine("404") + "Content-Type: text/html; charset=\"utf-8\"\r\n\r\n"
                               "<center><h1>Nginx Enterprise 1.19</h1>\nnot found page</center>\n";
}

} // namespace RawHttpClient

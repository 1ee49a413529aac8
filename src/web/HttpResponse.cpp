#include "web/HttpResponse.h"

#include <QFile>
#include <QHash>
#include <QTcpSocket>

namespace HttpResponse {

namespace {

const char *const kHeaders =
    "Content-Type: text/html; charset=\"utf-8\"\r\nContent-length: %1\r\n\r\n";
const char *const kTypedHeaders =
    "Content-Type: %1\r\nX-Content-Type-Options: nosniff\r\nContent-length: %2\r\n\r\n";
const char *const kNotFound =
    "HTTP/1.0 404 Not Found\r\nContent-Type: text/html; charset=\"utf-8\"\r\n\r\n"
    "<center><h1>Nginx Enterprise 1.19</h1>\nnot found page</center>\n";

void sendTyped(QTcpSocket *socket, const QByteArray &type, const QByteArray &content)
{
    socket->write(
        "HTTP/1.0 200 OK\r\n" +
        QString(kTypedHeaders).arg(QString::fromLatin1(type)).arg(content.size()).toUtf8() +
        content);
    socket->flush();
}

} // namespace

void sendResponse(QTcpSocket *socket, const QString &status, const QString &body)
{
    const QByteArray content = body.toUtf8();
    QByteArray reply = "HTTP/1.0 " + status.toUtf8() + ' ' + reasonPhrase(status.toInt()) + "\r\n";
    reply += QString(kHeaders).arg(content.size()).toUtf8();
    reply += content;
    socket->write(reply);
    socket->flush();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Unknown";
    }
}

void sendJson(QTcpSocket *socket, const QByteArray &utf8Json)
{
    sendTyped(socket, contentType(QStringLiteral(".json")), utf8Json);
}

QByteArray contentType(const QString &fileName)
{
    static const QHash<QString, QByteArray> types{
        {"html", "text/html; charset=\"utf-8\""},
        {"htm", "text/html; charset=\"utf-8\""},
        {"js", "application/javascript; charset=\"utf-8\""},
        {"css", "text/css; charset=\"utf-8\""},
        {"json", "application/json; charset=\"utf-8\""},
        {"txt", "text/plain; charset=\"utf-8\""},
        {"png", "image/png"},
        {"svg", "image/svg+xml"},
        {"ico", "image/x-icon"},
    };
    const int dot = fileName.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
    return types.value(extension, "application/octet-stream");
}

void sendFile(QTcpSocket *socket, const QString &webDir, const QString &path)
{
    const QString name = path == "/" ? QStringLiteral("/index.html") : path;
    QFile file(webDir + name);
    if (!staysInsideWebDir(name) || !file.open(QIODevice::ReadOnly)) {
        socket->write(kNotFound);
        return;
    }
    sendTyped(socket, contentType(name), file.readAll());
}

bool staysInsideWebDir(const QString &path)
{
    if (!path.startsWith('/') || path.contains('\\') || path.contains(QChar(0)))
        return false;
    const QString decoded = QString::fromUtf8(QByteArray::fromPercentEncoding(path.toUtf8()));
    if (decoded.contains('\\') || decoded.contains(QChar(0)))
        return false;
    const QStringList segments = decoded.split('/');
    return !segments.contains("..");
}

} // namespace HttpResponse

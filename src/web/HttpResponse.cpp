#include "web/HttpResponse.h"

#include <QFile>
#include <QTcpSocket>

namespace HttpResponse {

namespace {

const char *const kHeaders =
    "Content-Type: text/html; charset=\"utf-8\"\r\nContent-length: %1\r\n\r\n";
const char *const kNotFound =
    "HTTP/1.0 404 Ok\r\nContent-Type: text/html; charset=\"utf-8\"\r\n\r\n"
    "<center><h1>Nginx Enterprise 1.19</h1>\nnot found page</center>\n";

} // namespace

void sendResponse(QTcpSocket *socket, const QString &status, const QString &body)
{
    sendUtf8Response(socket, status, body.toUtf8());
}

void sendUtf8Response(QTcpSocket *socket, const QString &status, const QByteArray &content)
{
    QByteArray reply = QString("HTTP/1.0 %1 Ok\r\n").arg(status).toUtf8();
    reply += QString(kHeaders).arg(content.size()).toUtf8();
    reply += content;
    socket->write(reply);
    socket->flush();
}

void sendFile(QTcpSocket *socket, const QString &webDir, const QString &path)
{
    const QString name = path == "/" ? QStringLiteral("/index.html") : path;
    QFile file(webDir + name);
    if (!staysInsideWebDir(name) || !file.open(QIODevice::ReadOnly)) {
        socket->write(kNotFound);
        return;
    }
    const QByteArray content = file.readAll();
    socket->write("HTTP/1.0 200 Ok\r\n" + QString(kHeaders).arg(content.size()).toUtf8() + content);
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

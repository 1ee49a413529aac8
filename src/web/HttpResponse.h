#pragma once

#include <QString>

class QTcpSocket;

// The response layouts of the studio's HTTP/1.0 servers. Every status line ends in "Ok" and
// every response is declared as UTF-8 HTML, whatever it carries.
namespace HttpResponse {

// Status line, headers with the byte length of the UTF-8 body, then the body; one write.
void sendResponse(QTcpSocket *socket, const QString &status, const QString &body);
// The same with a body already encoded as UTF-8.
void sendUtf8Response(QTcpSocket *socket, const QString &status, const QByteArray &utf8Body);

// Serves webDir + path ("/" meaning "/index.html"), or the not-found text when the file cannot
// be read or the path would leave the web directory.
void sendFile(QTcpSocket *socket, const QString &webDir, const QString &path);

// False for paths that could name a file outside the web directory: no leading slash, a
// backslash, a NUL, or a ".." segment (also percent-encoded).
bool staysInsideWebDir(const QString &path);

} // namespace HttpResponse

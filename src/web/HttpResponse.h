#pragma once

#include <QString>

class QTcpSocket;

// The response layouts of the studio's HTTP/1.0 servers. Each status line carries its code's
// reason phrase. The short text replies and the not-found page are declared as UTF-8 HTML, as pages
// have always read them; JSON and files carry their real type and forbid sniffing, so that a
// viewer's question opened in a browser is shown as data, never run as a page.
namespace HttpResponse {

// Status line, headers with the byte length of the UTF-8 body, then the body; one write.
void sendResponse(QTcpSocket *socket, const QString &status, const QString &body);
// "OK", "Not Found" and the like for the codes the servers send; "Unknown" for any other.
QByteArray reasonPhrase(int status);
// A JSON document: "application/json", UTF-8, no sniffing.
void sendJson(QTcpSocket *socket, const QByteArray &utf8Json);

// Serves webDir + path ("/" meaning "/index.html") with the type of its extension, or the
// not-found text when the file cannot be read or the path would leave the web directory.
void sendFile(QTcpSocket *socket, const QString &webDir, const QString &path);

// The Content-Type of a file name by its extension (html, js, css, png, svg, ico, json, txt);
// anything else is opaque bytes.
QByteArray contentType(const QString &fileName);

// False for paths that could name a file outside the web directory: no leading slash, a
// backslash, a NUL, or a ".." segment (also percent-encoded).
bool staysInsideWebDir(const QString &path);

} // namespace HttpResponse

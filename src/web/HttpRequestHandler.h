#pragma once

class QTcpSocket;
struct HttpRequest;

// What an HttpServer hands each request to: the application's side of the server, which knows
// nothing of reading requests or of the connection's life.
class HttpRequestHandler
{
public:
    virtual ~HttpRequestHandler() = default;

    // Answers `request`, which arrived on `socket`. False: the reply is written and the server
    // closes the connection; true: the handler answers later and closes the connection itself.
    // Called on the server's thread.
    virtual bool handleRequest(QTcpSocket *socket, const HttpRequest &request) = 0;
};

#pragma once

#include "web/HttpRequestHandler.h"

#include <QString>
#include <QVector>
#include <functional>

// Route handler: the socket of the request and the request.
using HttpRouteHandler = std::function<void(QTcpSocket *socket, const HttpRequest &request)>;

struct HttpRoute
{
    QString prefix;      // compared case-sensitively with the start of the path
    QString handlerName; // logged with " EXCEPTION" when the handler throws
    HttpRouteHandler handle;
    // The handler answers later and closes the connection itself; a handler that throws still
    // has its connection closed at once.
    bool answersLater = false;
};

// Prefix routing: the first route whose prefix starts the path answers; paths no route claims
// are static files of the web directory.
class HttpRoutes : public HttpRequestHandler
{
public:
    explicit HttpRoutes(QVector<HttpRoute> routes, const QString &webDir = QString());

    // Prefixed unchanged to request paths.
    void setWebDir(const QString &webDir) { m_webDir = webDir; }

    bool handleRequest(QTcpSocket *socket, const HttpRequest &request) override;

private:
    const HttpRoute *routeFor(const QString &path) const;

    QVector<HttpRoute> m_routes;
    QString m_webDir;
};

#include "web/HttpRoutes.h"

#include "web/HttpRequest.h"
#include "web/HttpResponse.h"

#include <QDebug>
#include <QTcpSocket>

HttpRoutes::HttpRoutes(QVector<HttpRoute> routes, const QString &webDir)
    : m_routes(std::move(routes)), m_webDir(webDir)
{}

bool HttpRoutes::handleRequest(QTcpSocket *socket, const HttpRequest &request)
{
    const HttpRoute *route = routeFor(request.path);
    if (!route) {
        HttpResponse::sendFile(socket, m_webDir, request.path);
        return false;
    }
    try {
        route->handle(socket, request);
        return route->answersLater;
    } catch (...) {
        qDebug() << route->handlerName + " EXCEPTION";
    }
    return false;
}

const HttpRoute *HttpRoutes::routeFor(const QString &path) const
{
    for (const HttpRoute &route : m_routes) {
        if (path.startsWith(route.prefix))
            return &route;
    }
    return nullptr;
}

#include "web/HttpRequest.h"

#include <QStringList>

HttpRequest HttpRequest::fromTarget(const QString &target)
{
    HttpRequest request;
    request.target = target;
    const int mark = target.indexOf('?');
    request.path = mark < 0 ? target : target.left(mark);
    request.hasQuery = mark >= 0;
    if (mark < 0)
        return request;
    const QStringList items = target.mid(mark + 1).split('&');
    for (const QString &item : items) {
        const int equals = item.indexOf('=');
        request.queryItems.append(equals < 0 ? qMakePair(item, QString())
                                             : qMakePair(item.left(equals), item.mid(equals + 1)));
    }
    return request;
}

QString HttpRequest::queryItem(const QString &name) const
{
    for (const auto &item : queryItems) {
        if (item.first == name)
            return item.second;
    }
    return QString();
}

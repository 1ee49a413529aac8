#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// One GET request line as the studio's HTTP/1.0 servers read it: the target taken apart once,
// into its path and its query items, so that no route parses the text again.
struct HttpRequest
{
    QString target; // as sent: path and query
    QString path;   // before the first '?'
    bool hasQuery = false;
    // "name=value" items after the '?', in order, values still percent-encoded: a question's
    // text is decoded once, by whoever reads it. An item without '=' has an empty value.
    QVector<QPair<QString, QString>> queryItems;

    static HttpRequest fromTarget(const QString &target);

    // The value of the first item called `name`; empty when there is none.
    QString queryItem(const QString &name) const;
};

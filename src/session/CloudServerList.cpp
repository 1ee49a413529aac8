#include "session/CloudServerList.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

namespace CloudServerList {

QString customServerKey(int index)
{
    return QString("SERVER_%1").arg(index + 1);
}

QUrl publicListUrl(const QSettings &settings)
{
    const QString host = settings.value("SERVER_LIST_HOST", kDefaultListHost).toString();
    return QUrl(host + kListPath);
}

QStringList parseServerList(const QByteArray &body)
{
    const QJsonArray array = QJsonDocument::fromJson(body).array();
    qDebug() << "public servers:" << array;
    QStringList servers;
    for (const QJsonValue &value : array)
        servers.append(value.toString());
    return servers;
}

QStringList serverItems(const QSettings &settings, const QStringList &publicServers,
                        bool listAnswered)
{
    QStringList items;
    for (int i = 0; i < kCustomServerCount; ++i) {
        const QString server = settings.value(customServerKey(i), QString()).toString();
        if (!server.isEmpty())
            items.append(server);
    }
    items.append(publicServers);
    if (items.isEmpty())
        items.append(QString(listAnswered ? kUnavailableItem : kLoadingItem));
    return items;
}

bool isServer(const QString &item)
{
    return !item.trimmed().isEmpty() && item != kLoadingItem && item != kUnavailableItem &&
           item != kAddCustomItem;
}

} // namespace CloudServerList

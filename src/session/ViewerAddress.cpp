#include "session/ViewerAddress.h"

#include <QDebug>
#include <QNetworkInterface>
#include <algorithm>

namespace ViewerAddress {

QStringList usableInterfaces(const QList<QHostAddress> &addresses)
{
    QStringList result;
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol ||
            address == QHostAddress(QHostAddress::LocalHost))
            continue;
        const QString text = address.toString();
        if (text.startsWith("169."))
            continue;
        result.append(text);
    }
    return result;
}

QStringList enumerateInterfaces()
{
    const QStringList result = usableInterfaces(QNetworkInterface::allAddresses());
    for (const QString &address : result)
        qDebug() << "interface:" << address;
    return result.isEmpty() ? QStringList{kNoNetwork} : result;
}

int chosenInterface(const QStringList &interfaces, const QString &saved)
{
    return std::max(0, int(interfaces.indexOf(saved)));
}

QString serverHost(const QString &server)
{
    QString host = server.trimmed();
    for (const char *scheme : {"http://", "https://"}) {
        if (host.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            host = host.mid(int(qstrlen(scheme)));
            break;
        }
    }
    while (host.endsWith('/'))
        host.chop(1);
    return host;
}

QString viewerUrl(bool cloudMode, const QString &ip, int port, const QString &server,
                  const QString &roomId)
{
    // A relay given as https serves its pages only that way.
    if (cloudMode)
        return (server.trimmed().startsWith("https://", Qt::CaseInsensitive) ? "https://"
                                                                             : "http://") +
               serverHost(server) + "?room=" + roomId;
    return "http://" + ip + ":" + QString::number(port);
}

QString apiBaseUrl(bool cloudMode, quint16 apiPort, const QString &viewerUrl)
{
    if (!cloudMode)
        return viewerUrl;
    qDebug() << "API PORT" << apiPort;
    return "http://127.0.0.1:" + QString::number(apiPort);
}

QString shownText(const QString &url)
{
    if (url.size() <= kShownLength)
        return url;
    return url.left(kShownLength) + "...";
}

} // namespace ViewerAddress

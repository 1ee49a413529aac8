#include "session/PublicServerList.h"

#include "session/CloudServerList.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>

PublicServerList::PublicServerList(const QSettings *settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{}

void PublicServerList::request()
{
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        connect(m_network, &QNetworkAccessManager::finished, this, &PublicServerList::onReply);
    }
    m_network->get(QNetworkRequest(CloudServerList::publicListUrl(*m_settings)));
}

QStringList PublicServerList::items() const
{
    return CloudServerList::serverItems(*m_settings, m_servers, m_answered);
}

void PublicServerList::onReply(QNetworkReply *reply)
{
    reply->deleteLater();
    // A failed request has no array in its body; the error only goes to the log.
    if (reply->error() != QNetworkReply::NoError)
        qWarning() << "public servers list unavailable:" << reply->errorString();
    m_servers = CloudServerList::parseServerList(reply->readAll());
    m_answered = true;
    emit changed();
}

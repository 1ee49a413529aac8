#pragma once

#include <QObject>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

// The public cloud servers, asked once of the list address the settings name. A failed request
// leaves the list empty and only goes to the log; either way answered() turns true and
// `changed` tells the view to refill. GUI thread only.
class PublicServerList : public QObject
{
    Q_OBJECT
public:
    // `settings` is lent and must outlive the list.
    explicit PublicServerList(const QSettings *settings, QObject *parent = nullptr);

    // Sends the request; nothing goes out before.
    void request();
    const QStringList &servers() const { return m_servers; }
    bool answered() const { return m_answered; }
    // What the server list shows: the saved and public servers, or a placeholder while none.
    QStringList items() const;

signals:
    void changed();

private:
    void onReply(QNetworkReply *reply);

    const QSettings *m_settings;
    QNetworkAccessManager *m_network = nullptr;
    QStringList m_servers;
    bool m_answered = false;
};

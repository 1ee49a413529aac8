#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

struct __natsConnection;
struct __natsSubscription;

// The relay's one connection to a NATS cluster; nothing else in the program knows the NATS C
// client. The client delivers messages and connection changes on threads of its own: they reach
// this object's thread through a queue bounded in bytes, so a node that falls behind drops what
// does not fit, and says so, instead of growing without end. Publishing never waits for the
// cluster: while it is unreachable nothing is sent, since stream or votes replayed late help
// nobody. The client reconnects, and renews the subscriptions, by itself, except when a server
// ends the connection for good with a protocol error: then this object makes a new connection,
// waiting longer after each one that did not last, and subscribes again to everything it had.
// Owner's thread only.
class NatsLink : public QObject
{
    Q_OBJECT
public:
    // About ten seconds of a busy room's stream: a node this far behind has lost the live edge.
    static constexpr qint64 kMaxQueuedBytes = 32 * 1024 * 1024;
    // A silent server is given up after this many unanswered pings, this far apart.
    static constexpr int kPingIntervalMs = 2000;
    static constexpr int kMaxPingsOut = 2;
    static constexpr int kReconnectWaitMs = 250;
    // A connection closed for good is replaced after kReconnectWaitMs, doubled after each one
    // that closed again within kStableConnectionMs, up to this.
    static constexpr int kMaxRestartWaitMs = 2000;
    static constexpr int kStableConnectionMs = 10 * 1000;
    // A subject past this is refused here: the server closes a connection whose control line
    // is too long (4 KiB by default), and the rooms' subjects are far shorter.
    static constexpr int kMaxSubjectBytes = 256;

    struct Message
    {
        QByteArray subject;
        QByteArray reply; // where an answer goes; empty when none is wanted
        QByteArray data;
        // The cluster's own answer to a question that no subscriber heard.
        bool noResponders = false;
    };
    using Handler = std::function<void(const Message &)>;

    explicit NatsLink(QObject *parent = nullptr);
    ~NatsLink() override;

    // `servers`: comma-separated "nats://host:port" addresses of one cluster. Returns at once;
    // the connection is made in the background, retried until a server answers. False, with
    // `error`, only when the client cannot be set up (a malformed address).
    bool start(const QString &servers, QString *error);
    bool isConnected() const;

    // False when nothing was sent: not connected, or the client refused the message.
    bool publish(const QByteArray &subject, const QByteArray &data,
                 const QByteArray &reply = QByteArray());
    // The handler runs on this object's thread for every message on `subject` (NATS wildcards
    // allowed) until unsubscribe(). Returns 0 when the client refused.
    quint64 subscribe(const QByteArray &subject, Handler handler);
    void unsubscribe(quint64 id);

    // The queue and state shared with the client's threads.
    struct Shared;

signals:
    void connectionLost();
    void connectionRestored();

private:
    struct Subscription
    {
        QByteArray subject;
        Handler handler;
        __natsSubscription *handle = nullptr; // none while there is no connection
    };

    // False, with `error`, when the client refused the options.
    bool connectNow(QString *error);
    void subscribeNow(quint64 id, Subscription &subscription);
    void onConnected();
    void onClosed(quint64 generation);
    void restart();
    void drain();

    std::shared_ptr<Shared> m_shared;
    QString m_servers;
    __natsConnection *m_connection = nullptr;
    QHash<quint64, Subscription> m_subscriptions;
    QHash<qint64, quint64> m_idBySid; // the connection's numbers for this object's ones
    quint64 m_lastId = 0;
    QTimer m_restartTimer;
    int m_restartWaitMs = kReconnectWaitMs;
    QElapsedTimer m_connectedFor;
    qint64 m_droppedReported = 0;
};

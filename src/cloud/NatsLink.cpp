#include "cloud/NatsLink.h"

#include <QDebug>
#include <QMetaObject>

#include <nats/nats.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

// What the client's threads share with the owner's thread. It outlives the connection: the
// client may still be inside a callback while the owner goes.
struct NatsLink::Shared
{
    struct Queued
    {
        qint64 subscription;
        Message message;
    };

    std::mutex mutex;
    NatsLink *owner = nullptr; // cleared, under the mutex, before the owner is destroyed
    std::deque<Queued> queue;
    qint64 queuedBytes = 0;
    qint64 dropped = 0;
    bool drainPosted = false;
    std::atomic<bool> connected{false};

    // Runs `call` on the owner's thread, unless the owner is gone. Caller holds the mutex.
    template <typename Call> void post(Call call)
    {
        if (owner)
            QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
    }

    void push(qint64 subscription, Message message)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const qint64 size = message.data.size() + message.subject.size() + message.reply.size();
        if (!owner || queuedBytes + size > kMaxQueuedBytes) {
            ++dropped;
            return;
        }
        queuedBytes += size;
        queue.push_back({subscription, std::move(message)});
        if (!drainPosted) {
            drainPosted = true;
            NatsLink *link = owner;
            post([link] { link->drain(); });
        }
    }

    void changed(bool nowConnected)
    {
        connected = nowConnected;
        const std::lock_guard<std::mutex> lock(mutex);
        NatsLink *link = owner;
        post([link, nowConnected] {
            if (nowConnected)
                emit link->connectionRestored();
            else
                emit link->connectionLost();
        });
    }
};

namespace {

QString statusText(natsStatus status)
{
    return QString::fromUtf8(natsStatus_GetText(status));
}

QByteArray copied(const char *text)
{
    return text ? QByteArray(text) : QByteArray();
}

void onMessage(natsConnection *, natsSubscription *subscription, natsMsg *message, void *closure)
{
    auto *shared = static_cast<NatsLink::Shared *>(closure);
    NatsLink::Message copy{copied(natsMsg_GetSubject(message)), copied(natsMsg_GetReply(message)),
                           QByteArray(natsMsg_GetData(message), natsMsg_GetDataLength(message)),
                           natsMsg_IsNoResponders(message)};
    const qint64 id = natsSubscription_GetID(subscription);
    natsMsg_Destroy(message);
    shared->push(id, std::move(copy));
}

void onDisconnected(natsConnection *, void *closure)
{
    static_cast<NatsLink::Shared *>(closure)->changed(false);
}

void onConnected(natsConnection *, void *closure)
{
    static_cast<NatsLink::Shared *>(closure)->changed(true);
}

void onError(natsConnection *, natsSubscription *, natsStatus status, void *)
{
    qWarning() << "NATS:" << statusText(status);
}

} // namespace

NatsLink::NatsLink(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

NatsLink::~NatsLink()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->owner = nullptr;
    }
    for (const Subscription &subscription : qAsConst(m_subscriptions))
        natsSubscription_Destroy(subscription.handle);
    if (m_connection) {
        natsConnection_Destroy(m_connection);
        // The client's threads hold the shared state's address: they must be gone before it is.
        nats_CloseAndWait(2000);
    }
}

bool NatsLink::start(const QString &servers, QString *error)
{
    natsOptions *options = nullptr;
    std::vector<QByteArray> urls;
    for (const QString &url : servers.split(',', Qt::SkipEmptyParts))
        urls.push_back(url.trimmed().toUtf8());
    std::vector<const char *> urlPointers;
    for (const QByteArray &url : urls)
        urlPointers.push_back(url.constData());
    Shared *shared = m_shared.get();
    natsStatus status = natsOptions_Create(&options);
    // One address per entry: the client takes a comma-separated text as a single address.
    if (status == NATS_OK)
        status = natsOptions_SetServers(options, urlPointers.data(), int(urlPointers.size()));
    if (status == NATS_OK)
        status = natsOptions_SetName(options, "lumacast-cloud");
    // In the order given: each node can be pointed at its nearest server first.
    if (status == NATS_OK)
        status = natsOptions_SetNoRandomize(options, true);
    // A node must never hear its own messages: a presenter's node answers only the others.
    if (status == NATS_OK)
        status = natsOptions_SetNoEcho(options, true);
    if (status == NATS_OK)
        status = natsOptions_SetMaxReconnect(options, -1);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectWait(options, kReconnectWaitMs);
    if (status == NATS_OK)
        status = natsOptions_SetPingInterval(options, kPingIntervalMs);
    if (status == NATS_OK)
        status = natsOptions_SetMaxPingsOut(options, kMaxPingsOut);
    // Publishing during a reconnection is refused anyway (isConnected()); what slips through in
    // the moment of a loss stays small.
    if (status == NATS_OK)
        status = natsOptions_SetReconnectBufSize(options, 1024 * 1024);
    if (status == NATS_OK)
        status = natsOptions_SetDisconnectedCB(options, onDisconnected, shared);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectedCB(options, onConnected, shared);
    if (status == NATS_OK)
        status = natsOptions_SetErrorHandler(options, onError, shared);
    if (status == NATS_OK)
        status = natsOptions_SetRetryOnFailedConnect(options, true, onConnected, shared);
    if (status == NATS_OK) {
        status = natsConnection_Connect(&m_connection, options);
        if (status == NATS_OK)
            m_shared->connected = true;
        else if (status == NATS_NOT_YET_CONNECTED)
            status = NATS_OK;
    }
    natsOptions_Destroy(options);
    if (status != NATS_OK) {
        if (error)
            *error = statusText(status) + ": " + QString::fromUtf8(nats_GetLastError(nullptr));
        if (m_connection)
            natsConnection_Destroy(m_connection);
        m_connection = nullptr;
        return false;
    }
    return true;
}

bool NatsLink::isConnected() const
{
    return m_connection && m_shared->connected;
}

bool NatsLink::publish(const QByteArray &subject, const QByteArray &data, const QByteArray &reply)
{
    if (!isConnected() || subject.size() > kMaxSubjectBytes || reply.size() > kMaxSubjectBytes)
        return false;
    const natsStatus status =
        reply.isEmpty()
            ? natsConnection_Publish(m_connection, subject.constData(), data.constData(),
                                     int(data.size()))
            : natsConnection_PublishRequest(m_connection, subject.constData(), reply.constData(),
                                            data.constData(), int(data.size()));
    return status == NATS_OK;
}

quint64 NatsLink::subscribe(const QByteArray &subject, Handler handler)
{
    if (!m_connection || subject.size() > kMaxSubjectBytes)
        return 0;
    natsSubscription *handle = nullptr;
    const natsStatus status = natsConnection_Subscribe(&handle, m_connection, subject.constData(),
                                                       onMessage, m_shared.get());
    if (status != NATS_OK) {
        qWarning() << "NATS: cannot subscribe to" << subject << ":" << statusText(status);
        return 0;
    }
    const auto id = quint64(natsSubscription_GetID(handle));
    m_subscriptions.insert(id, {handle, std::move(handler)});
    return id;
}

void NatsLink::unsubscribe(quint64 id)
{
    const auto found = m_subscriptions.find(id);
    if (found == m_subscriptions.end())
        return;
    // Messages of it still queued find no handler and are dropped.
    natsSubscription_Unsubscribe(found->handle);
    natsSubscription_Destroy(found->handle);
    m_subscriptions.erase(found);
}

void NatsLink::drain()
{
    std::deque<Shared::Queued> batch;
    qint64 dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        batch.swap(m_shared->queue);
        m_shared->queuedBytes = 0;
        m_shared->drainPosted = false;
        dropped = m_shared->dropped;
    }
    if (dropped != m_droppedReported) {
        qWarning() << "NATS: this node falls behind;" << dropped - m_droppedReported
                   << "messages dropped";
        m_droppedReported = dropped;
    }
    for (const Shared::Queued &queued : batch) {
        // A handler may unsubscribe, even itself: look each one up afresh.
        const auto found = m_subscriptions.constFind(quint64(queued.subscription));
        if (found != m_subscriptions.constEnd()) {
            const Handler handler = found->handler;
            handler(queued.message);
        }
    }
}

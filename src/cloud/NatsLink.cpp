#include "cloud/NatsLink.h"

#include <QDebug>
#include <QMetaObject>

#include <nats/nats.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

// What the client's threads share with the owner's thread. It outlives the connections: the
// client may still be inside a callback while the owner goes.
struct NatsLink::Shared
{
    // What each connection's callbacks are given: messages and news of a connection replaced
    // since are told apart from the current one's.
    struct Context
    {
        Shared *shared;
        quint64 generation;
    };
    struct Queued
    {
        quint64 generation;
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
    std::atomic<quint64> generation{0};
    // One per connection ever made, a few bytes each: a replaced connection's client threads
    // may still hold theirs.
    std::deque<std::unique_ptr<Context>> contexts;

    // The context of a new connection. Owner's thread.
    Context *nextContext()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        contexts.push_back(std::make_unique<Context>(Context{this, ++generation}));
        return contexts.back().get();
    }

    // Runs `call` on the owner's thread, unless the owner is gone. Caller holds the mutex.
    template <typename Call> void post(Call call)
    {
        if (owner)
            QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
    }

    void push(quint64 from, qint64 subscription, Message message)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const qint64 size = message.data.size() + message.subject.size() + message.reply.size();
        if (!owner || queuedBytes + size > kMaxQueuedBytes) {
            ++dropped;
            return;
        }
        queuedBytes += size;
        queue.push_back({from, subscription, std::move(message)});
        if (!drainPosted) {
            drainPosted = true;
            NatsLink *link = owner;
            post([link] { link->drain(); });
        }
    }

    void changed(quint64 from, bool nowConnected)
    {
        if (from != generation)
            return;
        connected = nowConnected;
        const std::lock_guard<std::mutex> lock(mutex);
        NatsLink *link = owner;
        post([link, nowConnected] {
            if (nowConnected)
                link->onConnected();
            else
                emit link->connectionLost();
        });
    }

    void closed(quint64 from)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        NatsLink *link = owner;
        post([link, from] { link->onClosed(from); });
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
    const auto *context = static_cast<NatsLink::Shared::Context *>(closure);
    NatsLink::Message copy{copied(natsMsg_GetSubject(message)), copied(natsMsg_GetReply(message)),
                           QByteArray(natsMsg_GetData(message), natsMsg_GetDataLength(message)),
                           natsMsg_IsNoResponders(message)};
    const qint64 id = natsSubscription_GetID(subscription);
    natsMsg_Destroy(message);
    context->shared->push(context->generation, id, std::move(copy));
}

void whenDisconnected(natsConnection *, void *closure)
{
    const auto *context = static_cast<NatsLink::Shared::Context *>(closure);
    context->shared->changed(context->generation, false);
}

void whenConnected(natsConnection *, void *closure)
{
    const auto *context = static_cast<NatsLink::Shared::Context *>(closure);
    context->shared->changed(context->generation, true);
}

void whenClosed(natsConnection *, void *closure)
{
    const auto *context = static_cast<NatsLink::Shared::Context *>(closure);
    context->shared->closed(context->generation);
}

void onError(natsConnection *, natsSubscription *, natsStatus status, void *)
{
    qWarning() << "NATS:" << statusText(status);
}

} // namespace

NatsLink::NatsLink(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &NatsLink::restart);
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
    m_servers = servers;
    return connectNow(error);
}

bool NatsLink::connectNow(QString *error)
{
    natsOptions *options = nullptr;
    std::vector<QByteArray> urls;
    for (const QString &url : m_servers.split(',', Qt::SkipEmptyParts))
        urls.push_back(url.trimmed().toUtf8());
    std::vector<const char *> urlPointers;
    for (const QByteArray &url : urls)
        urlPointers.push_back(url.constData());
    Shared::Context *context = m_shared->nextContext();
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
        status = natsOptions_SetDisconnectedCB(options, whenDisconnected, context);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectedCB(options, whenConnected, context);
    if (status == NATS_OK)
        status = natsOptions_SetClosedCB(options, whenClosed, context);
    if (status == NATS_OK)
        status = natsOptions_SetErrorHandler(options, onError, context);
    if (status == NATS_OK)
        status = natsOptions_SetRetryOnFailedConnect(options, true, whenConnected, context);
    bool connectedAtOnce = false;
    if (status == NATS_OK) {
        status = natsConnection_Connect(&m_connection, options);
        connectedAtOnce = status == NATS_OK;
        if (status == NATS_NOT_YET_CONNECTED)
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
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end(); ++it)
        subscribeNow(it.key(), *it);
    // The client calls back only for a connection made in the background.
    if (connectedAtOnce) {
        m_shared->connected = true;
        onConnected();
    }
    return true;
}

void NatsLink::onConnected()
{
    m_connectedFor.start();
    emit connectionRestored();
}

void NatsLink::onClosed(quint64 generation)
{
    if (generation != m_shared->generation || !m_connection)
        return;
    const char *reason = nullptr;
    natsConnection_GetLastError(m_connection, &reason);
    m_shared->connected = false;
    for (Subscription &subscription : m_subscriptions) {
        natsSubscription_Destroy(subscription.handle);
        subscription.handle = nullptr;
    }
    m_idBySid.clear();
    qWarning().noquote() << "NATS: the server closed this node's connection for good ("
                         << QString::fromUtf8(reason ? reason : "no reason given")
                         << "); a new one in" << m_restartWaitMs << "ms";
    // Its loss was told when it was disconnected.
    natsConnection_Destroy(m_connection);
    m_connection = nullptr;
    m_restartTimer.start(m_restartWaitMs);
}

void NatsLink::restart()
{
    // A connection that lasted was no fault of this node's; one closed at once again may be.
    const bool lasted = m_connectedFor.isValid() && m_connectedFor.elapsed() >= kStableConnectionMs;
    m_restartWaitMs = lasted ? kReconnectWaitMs : qMin(2 * m_restartWaitMs, kMaxRestartWaitMs);
    m_connectedFor.invalidate();
    QString error;
    if (!connectNow(&error)) {
        qWarning().noquote() << "NATS: no new connection:" << error << "; trying again in"
                             << m_restartWaitMs << "ms";
        m_restartTimer.start(m_restartWaitMs);
    }
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
    if (m_servers.isEmpty() || subject.size() > kMaxSubjectBytes)
        return 0;
    const quint64 id = ++m_lastId;
    Subscription &subscription = *m_subscriptions.insert(id, {subject, std::move(handler)});
    // Between connections it is made with the next one.
    if (m_connection)
        subscribeNow(id, subscription);
    return id;
}

void NatsLink::subscribeNow(quint64 id, Subscription &subscription)
{
    const natsStatus status = natsConnection_Subscribe(&subscription.handle, m_connection,
                                                       subscription.subject.constData(), onMessage,
                                                       m_shared->contexts.back().get());
    if (status != NATS_OK) {
        qWarning() << "NATS: cannot subscribe to" << subscription.subject << ":"
                   << statusText(status);
        subscription.handle = nullptr;
        return;
    }
    m_idBySid.insert(natsSubscription_GetID(subscription.handle), id);
}

void NatsLink::unsubscribe(quint64 id)
{
    const auto found = m_subscriptions.find(id);
    if (found == m_subscriptions.end())
        return;
    // Messages of it still queued find no handler and are dropped.
    if (found->handle) {
        m_idBySid.remove(natsSubscription_GetID(found->handle));
        natsSubscription_Unsubscribe(found->handle);
        natsSubscription_Destroy(found->handle);
    }
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
        // An earlier connection's numbers mean nothing now: what it left is dropped.
        if (queued.generation != m_shared->generation)
            continue;
        // A handler may unsubscribe, even itself: look each one up afresh.
        const auto found = m_subscriptions.constFind(m_idBySid.value(queued.subscription));
        if (found != m_subscriptions.constEnd()) {
            const Handler handler = found->handler;
            handler(queued.message);
        }
    }
}

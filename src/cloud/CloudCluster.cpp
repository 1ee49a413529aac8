#include "cloud/CloudCluster.h"

#include "cloud/RoomSubjects.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QTimer>

namespace {

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

} // namespace

CloudCluster::CloudCluster(QObject *parent)
    : QObject(parent), m_nodeId(randomHex(8)), m_inbox("lumacast.node." + m_nodeId + '.')
{
    connect(&m_nats, &NatsLink::connectionLost, this, [this] {
        ++m_connectionLosses;
        qWarning() << "NATS connection lost: serving only the rooms whose presenter is on this "
                      "node, to this node's viewers";
    });
    connect(&m_nats, &NatsLink::connectionRestored, this,
            [] { qInfo() << "NATS connected: rooms shared with the other nodes"; });
}

bool CloudCluster::start(const QString &servers, QString *error)
{
    if (!m_nats.start(servers, error))
        return false;
    m_nats.subscribe(m_inbox + '*', [this](const NatsLink::Message &m) { onAnswer(m); });
    qInfo() << "node" << m_nodeId << "joins the NATS cluster at" << servers;
    return true;
}

void CloudCluster::ask(const QByteArray &subject, const QByteArray &question, int timeoutMs,
                       AnswerHandler handler, std::function<void()> timedOut)
{
    const quint64 id = ++m_lastQuestion;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    m_pending.insert(id, {std::move(handler), std::move(timedOut), timer});
    // Asked of nobody: the answer "none" comes as it would otherwise, later, never inside this
    // call.
    const bool sent = m_nats.publish(subject, question, m_inbox + QByteArray::number(id));
    connect(timer, &QTimer::timeout, this, [this, id, sent] { giveUp(id, sent); });
    timer->start(sent ? timeoutMs : 0);
}

void CloudCluster::askLive(const QString &room, std::function<void(Liveness)> answer)
{
    const bool connected = m_nats.isConnected();
    const quint64 losses = m_connectionLosses;
    ask(RoomSubjects::audience(room), R"({"kind":"live"})", kAnswerTimeoutMs,
        [this, answer, connected, losses](const QByteArray *reply) {
            if (reply)
                answer(Liveness::Live);
            else if (connected && losses == m_connectionLosses)
                answer(Liveness::Gone);
            else
                answer(Liveness::Unknown);
            return false;
        });
}

void CloudCluster::onAnswer(const NatsLink::Message &message)
{
    const quint64 id = message.subject.mid(m_inbox.size()).toULongLong();
    const auto found = m_pending.find(id);
    if (found == m_pending.end())
        return;
    if (message.noResponders) {
        // Nobody listens on that subject: no need to wait for the time to run out.
        giveUp(id, false);
        return;
    }
    const AnswerHandler handler = found->handler;
    QTimer *timer = found->timer;
    if (handler(&message.data)) {
        // The time runs from the last answer: a long one comes in pieces.
        if (m_pending.contains(id))
            timer->start();
        return;
    }
    const auto done = m_pending.find(id);
    if (done != m_pending.end()) {
        done->timer->deleteLater();
        m_pending.erase(done);
    }
}

void CloudCluster::giveUp(quint64 question, bool timedOut)
{
    const auto found = m_pending.find(question);
    if (found == m_pending.end())
        return;
    const Pending pending = *found;
    m_pending.erase(found);
    pending.timer->deleteLater();
    if (timedOut && pending.timedOut)
        pending.timedOut();
    else
        pending.handler(nullptr);
}

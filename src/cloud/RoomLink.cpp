#include "cloud/RoomLink.h"

#include "cloud/CloudCluster.h"
#include "cloud/RoomPresenter.h"
#include "cloud/RoomSubjects.h"
#include "relay/CommandMessages.h"
#include "relay/RoomStream.h"

#include <QDebug>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

// Video messages and pieces of a join copy start with the presenter's epoch (one per presenter
// connection) and a sequence number, so that a node sees a new presenter and what it lost.
constexpr int kVideoHeaderBytes = 16;
constexpr int kPieceHeaderBytes = kVideoHeaderBytes + 8;

void appendNumber(QByteArray &bytes, quint64 value)
{
    const quint64 big = qToBigEndian(value);
    bytes.append(reinterpret_cast<const char *>(&big), sizeof big);
}

quint64 numberAt(const QByteArray &bytes, int offset)
{
    return qFromBigEndian<quint64>(bytes.constData() + offset);
}

QByteArray header(quint64 epoch, quint64 sequence)
{
    QByteArray bytes;
    appendNumber(bytes, epoch);
    appendNumber(bytes, sequence);
    return bytes;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

RoomLink::RoomLink(CloudCluster *cluster, const QString &room, RoomStream *stream,
                   RoomPresenter *presenter, QObject *parent)
    : QObject(parent), m_cluster(cluster), m_roomId(room), m_stream(stream), m_presenter(presenter)
{
    m_reportTimer.setSingleShot(true);
    m_reportTimer.setInterval(kReportDelayMs);
    connect(&m_reportTimer, &QTimer::timeout, this, &RoomLink::reportAudience);
}

RoomLink::~RoomLink()
{
    // The presenter's node stops counting this node's viewers at once, not when it falls
    // silent.
    if (m_role == Role::Viewers)
        sendReport(Audience());
    unsubscribeAll();
}

void RoomLink::update()
{
    const Role role = m_presenter->hasPresenter() ? Role::Presenter
                      : (m_stream->videoViewers() + m_stream->commandViewers() > 0) ? Role::Viewers
                                                                                    : Role::None;
    if (role == m_role)
        return;
    if (m_role == Role::Viewers)
        sendReport(Audience());
    // Viewers that waited for a copy that will not come now start with the live stream.
    if (m_waitingFor == Waiting::JoinCopy)
        m_stream->startFrom(QByteArray());
    unsubscribeAll();
    m_role = role;
    subscribe(role);
}

void RoomLink::subscribe(Role role)
{
    NatsLink &nats = m_cluster->nats();
    const QString &room = m_roomId;
    if (role == Role::Presenter) {
        m_epoch = QRandomGenerator::system()->generate64() | 1;
        m_sequence = 0;
        m_remotes.clear();
        m_subscriptions << nats.subscribe(
            RoomSubjects::audience(room),
            [this](const NatsLink::Message &m) { onAudience(m.reply, m.data); });
    } else if (role == Role::Viewers) {
        m_subscriptions << nats.subscribe(RoomSubjects::video(room),
                                          [this](const NatsLink::Message &m) { onVideo(m.data); });
        m_subscriptions << nats.subscribe(
            RoomSubjects::commands(room),
            [this](const NatsLink::Message &m) { onCommand(m.data); });
        askJoinCopy();
        reportAudience();
    }
}

void RoomLink::unsubscribeAll()
{
    for (const quint64 id : qAsConst(m_subscriptions))
        m_cluster->nats().unsubscribe(id);
    m_subscriptions.clear();
    m_waitingFor = Waiting::Nothing;
    m_resendable.clear();
    m_resendableBytes = 0;
    m_waiting.clear();
    m_waitingBytes = 0;
    m_seenEpoch = 0;
    m_reportTimer.stop();
}

void RoomLink::askLive(std::function<void(CloudCluster::Liveness)> answer)
{
    m_cluster->askLive(m_roomId, std::move(answer));
}

// ---- the presenter's node ----------------------------------------------------------------

void RoomLink::publishStream(const QByteArray &packets)
{
    if (m_role != Role::Presenter)
        return;
    const QByteArray subject = RoomSubjects::video(m_roomId);
    // Pieces on the packet grid, so that every message a node fans out holds whole packets.
    constexpr int piece = kMaxPieceBytes - kMaxPieceBytes % 188;
    for (int offset = 0; offset < packets.size(); offset += piece) {
        // Numbered and kept whether or not it is sent: a node that misses some sees the gap
        // and asks again.
        const QByteArray message = header(m_epoch, ++m_sequence) + packets.mid(offset, piece);
        m_cluster->nats().publish(subject, message);
        m_resendable.push_back({m_sequence, message});
        m_resendableBytes += message.size();
        while (m_resendableBytes > kMaxResendBytes) {
            m_resendableBytes -= m_resendable.front().message.size();
            m_resendable.pop_front();
        }
    }
}

void RoomLink::resend(const QByteArray &reply, const QJsonObject &request)
{
    const auto from = quint64(request.value("from").toDouble());
    const auto to = quint64(request.value("to").toDouble());
    if (QByteArray::number(m_epoch) == request.value("epoch").toString().toLatin1()) {
        for (const Sent &sent : m_resendable)
            if (sent.sequence >= from && sent.sequence <= to)
                m_cluster->nats().publish(reply, sent.message);
    }
    // The end: a header alone.
    m_cluster->nats().publish(reply, header(m_epoch, 0));
}

void RoomLink::publishCommand(const QString &message)
{
    if (m_role == Role::Presenter)
        m_cluster->nats().publish(RoomSubjects::commands(m_roomId), message.toUtf8());
}

QList<RoomLink::Node> RoomLink::remoteNodes()
{
    QList<Node> nodes;
    for (auto it = m_remotes.begin(); it != m_remotes.end();) {
        if (it->heard.elapsed() > kNodeSilenceMs) {
            qInfo() << "room" << m_roomId << "no longer hears node" << it.key();
            it = m_remotes.erase(it);
            continue;
        }
        nodes.append({it.key(), it->audience});
        ++it;
    }
    return nodes;
}

void RoomLink::onAudience(const QByteArray &reply, const QByteArray &data)
{
    const QJsonObject message = CommandMessages::parse(QString::fromUtf8(data));
    const QString kind = message.value("kind").toString();
    const QHostAddress viewer(message.value("viewer").toString());
    if (kind == "live") {
        if (!reply.isEmpty())
            m_cluster->nats().publish(reply, "live");
    } else if (kind == "claim") {
        // Another node has a presenter for this room: of the owner's key, it takes over (the
        // studio reconnected there), and this node's connection is dropped before the answer
        // lets the other one relay a byte.
        const QByteArray key = QByteArray::fromBase64(message.value("key").toString().toLatin1());
        const bool released = m_presenter->releasePresenter(key);
        if (!reply.isEmpty())
            m_cluster->nats().publish(reply, released ? "released" : "refused");
    } else if (kind == "join_copy") {
        if (!reply.isEmpty())
            sendJoinCopy(reply);
    } else if (kind == "resend") {
        if (!reply.isEmpty())
            resend(reply, message);
    } else if (kind == "question") {
        CloudCluster *cluster = m_cluster;
        m_presenter->askQuestion(
            message.value("question").toString().toUtf8(), [cluster, reply](bool stored) {
                if (!reply.isEmpty())
                    cluster->nats().publish(reply, stored ? "ok" : "not stored");
            });
    } else if (kind == "vote" && !viewer.isNull()) {
        m_presenter->countVote(viewer, message.value("option").toInt());
    } else if (kind == "viewer_message" && !viewer.isNull()) {
        m_presenter->passViewerMessage(viewer, message.value("message").toObject());
    } else if (kind == "report") {
        const QByteArray node = message.value("node").toString().toUtf8();
        Audience audience;
        audience.videoViewers = qMax(0, message.value("video").toInt());
        audience.commandViewers = qMax(0, message.value("commands").toInt());
        audience.sentBytes = qMax(qint64(0), qint64(message.value("sent_bytes").toDouble()));
        if (node.isEmpty())
            return;
        if (audience.videoViewers == 0 && audience.commandViewers == 0) {
            m_remotes.remove(node);
            return;
        }
        Remote &remote = m_remotes[node];
        remote.audience = audience;
        remote.heard.start();
    }
}

void RoomLink::sendJoinCopy(const QByteArray &reply)
{
    // Whatever the copy holds has been published, so the asking node can take up the live
    // stream right after it.
    const QByteArray copy = m_stream->joinCopy();
    const quint64 count = (quint64(copy.size()) + kMaxPieceBytes - 1) / kMaxPieceBytes;
    quint64 index = 0;
    do {
        QByteArray piece = header(m_epoch, m_sequence);
        appendNumber(piece, (count << 32) | index);
        m_cluster->nats().publish(reply,
                                  piece + copy.mid(int(index) * kMaxPieceBytes, kMaxPieceBytes));
    } while (++index < count);
}

// ---- a node with viewers only ---------------------------------------------------------------

void RoomLink::askJoinCopy()
{
    m_waitingFor = Waiting::JoinCopy;
    m_stream->awaitHeadStart();
    m_joinPieces.clear();
    m_joinPieceCount = -1;
    const quint64 question = ++m_question;
    QPointer<RoomLink> self(this);
    m_cluster->ask(RoomSubjects::audience(m_roomId), json({{"kind", "join_copy"}}),
                   CloudCluster::kAnswerTimeoutMs, [self, question](const QByteArray *piece) {
                       if (!self || self->m_question != question ||
                           self->m_waitingFor != Waiting::JoinCopy)
                           return false;
                       return self->onJoinPiece(piece);
                   });
}

bool RoomLink::onJoinPiece(const QByteArray *piece)
{
    if (!piece || piece->size() < kPieceHeaderBytes) {
        // Nobody holds the presenter: the stream that comes, if any, starts the copy.
        m_joinEpoch = 0;
        m_joinSequence = 0;
        m_joinPieces.clear();
        finishJoining();
        return false;
    }
    const quint64 counts = numberAt(*piece, kVideoHeaderBytes);
    const int count = int(counts >> 32);
    const int index = int(counts & 0xffffffffu);
    if (m_joinPieceCount < 0) {
        m_joinPieceCount = qMax(1, count);
        m_joinEpoch = numberAt(*piece, 0);
        m_joinSequence = numberAt(*piece, 8);
    }
    // Pieces come in order over one connection.
    if (index == m_joinPieces.size())
        m_joinPieces.append(piece->mid(kPieceHeaderBytes));
    if (m_joinPieces.size() < m_joinPieceCount)
        return true;
    finishJoining();
    return false;
}

void RoomLink::finishJoining()
{
    m_seenEpoch = m_joinEpoch;
    m_seenSequence = m_joinSequence;
    m_stream->startFrom(m_joinPieces.join());
    m_joinPieces.clear();
    deliverWaiting();
}

void RoomLink::askResend(quint64 epoch, quint64 from, quint64 to)
{
    m_waitingFor = Waiting::Resend;
    const quint64 question = ++m_question;
    QPointer<RoomLink> self(this);
    const QJsonObject request{{"kind", "resend"},
                              {"epoch", QString::number(epoch)},
                              {"from", double(from)},
                              {"to", double(to)}};
    m_cluster->ask(RoomSubjects::audience(m_roomId), json(request), CloudCluster::kAnswerTimeoutMs,
                   [self, question](const QByteArray *message) {
                       if (!self || self->m_question != question ||
                           self->m_waitingFor != Waiting::Resend)
                           return false;
                       if (message && message->size() > kVideoHeaderBytes) {
                           self->deliver(*message, false);
                           return true;
                       }
                       self->deliverWaiting();
                       return false;
                   });
}

void RoomLink::deliverWaiting()
{
    m_waitingFor = Waiting::Nothing;
    const QList<QByteArray> waiting = std::exchange(m_waiting, {});
    m_waitingBytes = 0;
    // What is still missing now is lost: asked once, not again.
    for (const QByteArray &message : waiting)
        deliver(message, false);
}

void RoomLink::onVideo(const QByteArray &data)
{
    if (data.size() < kVideoHeaderBytes)
        return;
    if (m_waitingFor == Waiting::Nothing && deliver(data, true))
        return;
    if (m_waitingBytes + data.size() > kMaxWaitingBytes)
        return; // lost; seen as such when the wait ends
    m_waiting.append(data);
    m_waitingBytes += data.size();
}

bool RoomLink::deliver(const QByteArray &data, bool mayAskAgain)
{
    const quint64 epoch = numberAt(data, 0);
    const quint64 sequence = numberAt(data, 8);
    if (epoch != m_seenEpoch) {
        // A new presenter, here or on another node: its stream starts over.
        if (m_seenEpoch != 0)
            m_stream->restartJoinCache();
    } else if (sequence <= m_seenSequence) {
        return true; // had it already
    } else if (sequence != m_seenSequence + 1) {
        if (mayAskAgain) {
            askResend(epoch, m_seenSequence + 1, sequence - 1);
            return false;
        }
        if (m_lossLog.admit())
            qWarning() << "room" << m_roomId << "lost" << qint64(sequence - m_seenSequence - 1)
                       << "stream messages over NATS";
        // A joiner must not start on a torn group of pictures.
        m_stream->restartJoinCache();
    }
    m_seenEpoch = epoch;
    m_seenSequence = sequence;
    m_stream->takeStream(data.mid(kVideoHeaderBytes));
    return true;
}

void RoomLink::onCommand(const QByteArray &data)
{
    const QString text = QString::fromUtf8(data);
    const QJsonObject message = CommandMessages::parse(text);
    if (CommandMessages::commandOf(message) != "random_game_finish_all") {
        m_stream->passCommand(message, text);
        return;
    }
    const bool here = message.value("winner_node").toString().toUtf8() == m_cluster->nodeId();
    m_stream->sendFinish(message, here ? message.value("winner_index").toInt() : -1);
}

void RoomLink::forwardVote(const QHostAddress &viewer, int option)
{
    publishAudience({{"kind", "vote"}, {"viewer", viewer.toString()}, {"option", option}});
}

void RoomLink::forwardViewerMessage(const QHostAddress &viewer, const QJsonObject &message)
{
    publishAudience(
        {{"kind", "viewer_message"}, {"viewer", viewer.toString()}, {"message", message}});
}

void RoomLink::audienceChanged()
{
    if (m_role == Role::Viewers && !m_reportTimer.isActive())
        m_reportTimer.start();
}

void RoomLink::reportAudience()
{
    if (m_role != Role::Viewers)
        return;
    Audience audience;
    audience.videoViewers = m_stream->videoViewers();
    audience.commandViewers = m_stream->commandViewers();
    audience.sentBytes = m_stream->sentBytes();
    sendReport(audience);
}

void RoomLink::sendReport(const Audience &audience)
{
    publishAudience({{"kind", "report"},
                     {"node", QString::fromUtf8(m_cluster->nodeId())},
                     {"video", audience.videoViewers},
                     {"commands", audience.commandViewers},
                     {"sent_bytes", double(audience.sentBytes)}});
}

void RoomLink::publishAudience(const QJsonObject &message)
{
    m_cluster->nats().publish(RoomSubjects::audience(m_roomId), json(message));
}

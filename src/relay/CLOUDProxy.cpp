#include "relay/CLOUDProxy.h"

#include "audience/VoteState.h"
#include "relay/CommandMessages.h"
#include "relay/PresenterClaim.h"
#include "web/DBStorage.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonArray>
#include <QSslConfiguration>
#include <QTcpSocket>

namespace {

QString describeCertificateErrors(const QList<QSslError> &errors, const QString &host)
{
    QStringList reasons;
    for (const QSslError &error : errors) {
        const QSslCertificate certificate = error.certificate();
        QString reason;
        switch (error.error()) {
        case QSslError::CertificateExpired:
            reason = "its certificate expired on " +
                     certificate.expiryDate().toString("yyyy-MM-dd HH:mm 'UTC'");
            break;
        case QSslError::CertificateNotYetValid:
            reason = "its certificate is valid only from " +
                     certificate.effectiveDate().toString("yyyy-MM-dd HH:mm 'UTC'");
            break;
        case QSslError::HostNameMismatch: {
            QStringList names = certificate.subjectAlternativeNames().values(QSsl::DnsEntry);
            names += certificate.subjectInfo(QSslCertificate::CommonName);
            names.removeDuplicates();
            reason = "its certificate is for " + names.join(", ") + ", not " + host;
            break;
        }
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            reason = "its certificate is signed by an authority this computer does not trust "
                     "(for a relay with a certificate of its own making, give the studio its CA "
                     "file: setting CLOUD_CA_FILE)";
            break;
        case QSslError::CertificateRevoked:
            reason = "its certificate has been revoked";
            break;
        default:
            reason = error.errorString();
        }
        if (!reasons.contains(reason))
            reasons << reason;
    }
    return "the server's identity cannot be verified: " + reasons.join("; ");
}

} // namespace

CLOUDProxy::CLOUDProxy(DBStorage *questionStore, quint16 ingestPort, QObject *parent)
    : AudienceLink(parent), socket(QString(), QWebSocketProtocol::Version13),
      questionStore(questionStore), m_ingestPort(ingestPort),
      m_ingestBackoff(&ingestServer, QStringLiteral("cloud ingest"))
{
    connect(&ingestServer, &QTcpServer::newConnection, this, &CLOUDProxy::onNewConnection);
    connect(&socket, &QWebSocket::connected, this, &CLOUDProxy::onConnected);
    connect(&socket, &QWebSocket::textMessageReceived, this, &CLOUDProxy::processTextMessage);
    connect(&socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &CLOUDProxy::onError);
    connect(&socket, &QWebSocket::disconnected, this, &CLOUDProxy::onDisconnected);
    connect(&socket, &QWebSocket::sslErrors, this, &CLOUDProxy::onSslErrors);
    connect(&socket, &QWebSocket::bytesWritten, this,
            [this](qint64 bytes) { m_uplinkBacklog = qMax<qint64>(0, m_uplinkBacklog - bytes); });
    m_reconnectTimer.setSingleShot(true);
    m_reconnectTimer.setInterval(kReconnectDelayMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &CLOUDProxy::reopen);
    m_attemptDeadline.setSingleShot(true);
    m_attemptDeadline.setInterval(kConnectTimeoutMs);
    connect(&m_attemptDeadline, &QTimer::timeout, this, &CLOUDProxy::giveUpAttempt);
    m_pingTimer.setInterval(kPingIntervalMs);
    connect(&m_pingTimer, &QTimer::timeout, this, &CLOUDProxy::checkLiveness);
    connect(&socket, &QWebSocket::pong, this, [this] { m_lastHeard.start(); });
}

CLOUDProxy::~CLOUDProxy()
{
    // The ingest sockets go with ingestServer, after the table; their last signals must not
    // reach it.
    for (QTcpSocket *ingest : m_ingests.keys())
        disconnect(ingest, nullptr, this, nullptr);
    disconnect(&socket, nullptr, this, nullptr);
}

QString CLOUDProxy::cloudAddress(const QString &server, const QString &roomId)
{
    QString host = server;
    const bool secure = host.startsWith("https://", Qt::CaseInsensitive);
    host.remove("http://", Qt::CaseInsensitive);
    host.remove("https://", Qt::CaseInsensitive);
    return (secure ? "wss://" : "ws://") + host + "/websocket/left/" + roomId;
}

bool CLOUDProxy::connectToCloud(const QString &server, const QString &roomId)
{
    receivedBytes = 0;
    serverTotalBytes = 0;
    serverClients = 0;
    connected = false;
    m_admitted = false;
    errorSeen = false;
    reconnectAttempts = 0;
    m_gaveUp = false;
    m_certificateProblem.clear();
    m_reconnectTimer.stop();
    m_roomId = roomId;
    serverUrl = cloudAddress(server, roomId);
    qDebug() << "CONNECT TO CLOUD: " << serverUrl;
    if (!QUrl(serverUrl).isValid()) {
        qDebug() << " initial ws connect to server error: not an address";
        return false;
    }

    // The window keeps drawing and answering while the server is reached.
    QEventLoop wait;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &wait, &QEventLoop::quit);
    const auto onAdmitted = connect(this, &CLOUDProxy::presenterAdmitted, &wait, &QEventLoop::quit);
    const auto onFail = connect(&socket, &QWebSocket::disconnected, &wait, [this, &wait] {
        errorSeen = true;
        wait.quit();
    });
    const auto onError =
        connect(&socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), &wait,
                [this, &wait] {
                    if (errorSeen)
                        wait.quit();
                });
    applyTrust();
    socket.open(QUrl(serverUrl));
    deadline.start(kConnectTimeoutMs);
    if (!m_admitted && !errorSeen)
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(onAdmitted);
    disconnect(onFail);
    disconnect(onError);

    if (!m_admitted) {
        const QString reason = !m_certificateProblem.isEmpty()   ? m_certificateProblem
                               : !socket.closeReason().isEmpty() ? socket.closeReason()
                               : errorSeen                       ? socket.errorString()
                                           : QStringLiteral("no answer in 10 s");
        qDebug() << " initial ws connect to server error" << reason;
        m_pingTimer.stop();
        socket.abort();
        return false;
    }
    connected = true;
    const bool listening = ingestServer.listen(QHostAddress("127.0.0.1"), m_ingestPort);
    qDebug() << "m_itcp_server listen: " << listening;
    if (!listening)
        qWarning() << "cloud ingest listen failed on 127.0.0.1:" << m_ingestPort
                   << ingestServer.errorString();
    return true;
}

void CLOUDProxy::disconnectFromCloud()
{
    connected = false;
    m_admitted = false;
    m_reconnectTimer.stop();
    m_attemptDeadline.stop();
    m_pingTimer.stop();
    socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    ingestServer.close();
    qDebug() << "-- cloud proxy STOP";
}

QVector<qint32> CLOUDProxy::voteResults() const
{
    QVector<qint32> tally(VoteState::kTallySize, 0);
    const QJsonArray votes = serverVotes.toArray();
    for (int i = 0; i < votes.size() && i < tally.size(); ++i)
        tally[i] = votes.at(i).toInt();
    return tally;
}

WSServer::Statistics CLOUDProxy::statistics() const
{
    return {receivedBytes, serverTotalBytes, serverClients};
}

quint16 CLOUDProxy::ingestPort() const
{
    return ingestServer.isListening() ? ingestServer.serverPort() : m_ingestPort;
}

void CLOUDProxy::onConnected()
{
    // Qt's WebSocket client leaves Nagle's algorithm on: each small chunk would wait for the
    // server's delayed acknowledgement, some 40 ms. The transport is the socket's child.
    for (QTcpSocket *transport : socket.findChildren<QTcpSocket *>())
        transport->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_admitted = false;
    m_uplinkBacklog = 0;
    m_droppingLogged = false;
    m_lastHeard.start();
    m_pingTimer.start();
}

void CLOUDProxy::answerChallenge(const QByteArray &challenge)
{
    // Sent as is, outside sendText(): the claim is the one message before admission.
    socket.sendTextMessage(PresenterClaim::claimMessage(m_identity, m_roomId, challenge));
}

void CLOUDProxy::onAdmitted()
{
    if (m_admitted)
        return;
    m_admitted = true;
    // Only an admitted connection counts as a success: a server that takes the connection and
    // then refuses the claim must not reset the count for ever.
    reconnectAttempts = 0;
    m_attemptDeadline.stop();
    qInfo() << "cloud room" << m_roomId << "admitted; presenter key"
            << m_identity.publicKey().toBase64();
    emit presenterAdmitted();
}

void CLOUDProxy::onError(QAbstractSocket::SocketError error)
{
    qDebug() << " WS CLOUD ERROR:" << error << socket.errorString();
    errorSeen = true;
    connectionLost();
}

void CLOUDProxy::onSslErrors(const QList<QSslError> &errors)
{
    // Not ignored: the connection is aborted after this, and the presenter is told why.
    m_certificateProblem = describeCertificateErrors(errors, QUrl(serverUrl).host());
    qWarning().noquote() << "cloud server" << QUrl(serverUrl).host()
                         << "refused:" << m_certificateProblem;
}

void CLOUDProxy::applyTrust()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!m_caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(m_caFile);
        if (authorities.isEmpty())
            qWarning() << "no PEM certificate in the cloud CA file" << m_caFile;
        configuration.setCaCertificates(configuration.caCertificates() + authorities);
    }
    socket.setSslConfiguration(configuration);
}

void CLOUDProxy::onDisconnected()
{
    m_admitted = false;
    if (!connected || m_gaveUp)
        return;
    // A server that refuses the room (it has a presenter, or the server is full) would refuse
    // every reconnection as well, each after a successful handshake that resets the count.
    if (socket.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated) {
        qWarning() << "cloud server refused the room:" << socket.closeReason();
        m_gaveUp = true;
        m_reconnectTimer.stop();
        emit reconnectFailed();
        return;
    }
    // A server that closes the connection properly reports no error; it is lost all the same.
    connectionLost();
}

void CLOUDProxy::connectionLost()
{
    if (!connected || m_gaveUp || m_reconnectTimer.isActive())
        return;
    m_pingTimer.stop();
    m_attemptDeadline.stop();
    qDebug() << "-- try reconnect...";
    if (++reconnectAttempts > kMaxReconnectAttempts) {
        m_gaveUp = true;
        emit reconnectFailed();
        return;
    }
    m_reconnectTimer.start();
}

void CLOUDProxy::reopen()
{
    if (!connected)
        return;
    applyTrust();
    socket.open(QUrl(serverUrl));
    m_attemptDeadline.start();
}

void CLOUDProxy::giveUpAttempt()
{
    qDebug() << " WS CLOUD ERROR: no answer in" << kConnectTimeoutMs << "ms";
    socket.abort();
    connectionLost();
}

void CLOUDProxy::checkLiveness()
{
    if (!connected || socket.state() != QAbstractSocket::ConnectedState)
        return;
    if (m_lastHeard.elapsed() > kMaxSilenceMs) {
        qWarning() << "cloud server silent for" << m_lastHeard.elapsed() << "ms; reconnecting";
        m_pingTimer.stop();
        socket.abort();
        connectionLost();
        return;
    }
    socket.ping();
}

void CLOUDProxy::onNewConnection()
{
    qDebug() << "new connection to relay";
    QTcpSocket *ingest = ingestServer.nextPendingConnection();
    if (!ingest)
        return;
    ingest->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto aligner = std::make_shared<TsPacketAligner>();
    m_ingests.insert(ingest, aligner);
    connect(ingest, &QTcpSocket::readyRead, this, [this, ingest, aligner] {
        const QByteArray chunk = ingest->readAll();
        receivedBytes += chunk.size();
        const QByteArray packets = aligner->take(chunk);
        if (packets.isEmpty())
            return;
        forward(packets);
        emit ingestPackets(quintptr(ingest), packets);
    });
    connect(ingest, &QTcpSocket::disconnected, this, [this, ingest] {
        m_ingests.remove(ingest);
        ingest->deleteLater();
    });
}

void CLOUDProxy::forward(const QByteArray &packets)
{
    if (!connected || !m_admitted || socket.state() != QAbstractSocket::ConnectedState)
        return;
    if (m_uplinkBacklog > kMaxUplinkBacklogBytes) {
        if (!m_droppingLogged)
            qWarning() << "cloud uplink too slow:" << m_uplinkBacklog
                       << "bytes unsent; dropping stream chunks until it drains";
        m_droppingLogged = true;
        return;
    }
    m_droppingLogged = false;
    m_uplinkBacklog += socket.sendBinaryMessage(packets);
    socket.flush();
}

void CLOUDProxy::processTextMessage(QString message)
{
    m_lastHeard.start();
    qDebug() << " message from server:" << message;
    const QJsonObject object = CommandMessages::parse(message);
    qDebug() << "OBJECT:" << object;
    const QString command = CommandMessages::commandOf(object);
    if (command == "presenter_challenge") {
        const QByteArray challenge = PresenterClaim::challengeOf(object);
        if (!challenge.isEmpty() && !m_admitted)
            answerChallenge(challenge);
    } else if (command == "presenter_admitted") {
        onAdmitted();
    } else if (command == "on_stat_info") {
        const CommandMessages::StatInfo info = CommandMessages::statInfo(object);
        serverClients = info.clients;
        serverTotalBytes = info.totalBytes;
        serverVotes = object.value("votes");
    } else if (command == "question") {
        // The server answers its viewer "OK" only once the question is on disk here.
        const qint64 id = qint64(object.value("id").toDouble(-1));
        if (!questionStore) {
            sendText(CommandMessages::questionStoredMessage(id, false));
        } else {
            questionStore->storeQuestion(
                CommandMessages::questionPayload(object), this,
                [this, id](bool stored, const QString &error) {
                    if (!stored)
                        qWarning() << "cloud question not stored:" << error;
                    sendText(CommandMessages::questionStoredMessage(id, stored));
                });
        }
    } else if (command == "quiz_answer" || command == "question_upvote") {
        const QString viewer = object.value("viewer").toString();
        if (!viewer.isEmpty())
            emit viewerCommand(viewer, object);
    }
}

void CLOUDProxy::onRandomGameTick(QString clr, int proc)
{
    sendText(CommandMessages::randomGameTick(clr, proc));
}

void CLOUDProxy::onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code)
{
    sendText(CommandMessages::randomGameFinishAll(lose_txt, win_txt, win_code));
}

void CLOUDProxy::onVoteStart(QString title, QStringList opts)
{
    sendText(CommandMessages::voteStart(title, opts));
}

void CLOUDProxy::onVoteStop()
{
    sendText(CommandMessages::voteStop());
}

void CLOUDProxy::sendCommand(QString message)
{
    sendText(message);
}

void CLOUDProxy::sendText(const QString &message)
{
    if (!m_admitted)
        return;
    // Only a question list may pass the relay longer than a command; anything longer than the
    // relay passes on would reach no viewer and cost the uplink for nothing.
    if (message.size() > CommandMessages::kMaxCommandChars) {
        const QString command = CommandMessages::commandOf(CommandMessages::parse(message));
        const int limit = command == QLatin1String("questions")
                              ? CommandMessages::kMaxQuestionListChars
                              : CommandMessages::kMaxCommandChars;
        if (message.size() > limit) {
            qWarning() << "cloud: a" << command << "message of" << message.size()
                       << "characters is not sent: the relay passes at most" << limit;
            return;
        }
    }
    socket.sendTextMessage(message);
}

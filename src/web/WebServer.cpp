#include "web/WebServer.h"

#include "net/AcceptBackoff.h"
#include "web/DBStorage.h"
#include "web/HttpResponse.h"
#include "web/QuestionPayload.h"
#include "web/SharedRoutes.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

bool withinBounds(const QByteArray &payload)
{
    const QJsonObject object = QJsonDocument::fromJson(payload).object();
    return object.value("name").toString().trimmed().size() <= WebServer::kMaxNameChars &&
           object.value("msg").toString().trimmed().size() <= WebServer::kMaxQuestionChars;
}

} // namespace

WebServer::WebServer(VoteState *vote, DBStorage *storage, const QuizBoard *quiz,
                     const QuestionBoard *questions)
    : m_vote(vote), m_storage(storage), m_quiz(quiz), m_questions(questions), m_requests(routes())
{}

QVector<HttpRoute> WebServer::routes()
{
    QVector<HttpRoute> routes =
        SharedRoutes::listAndVoteRoutes(m_storage, m_vote, m_quiz, m_questions);
    routes.insert(
        0, {"/feedback.php", "addFeedback",
            [this](QTcpSocket *socket, const QString &path) { addFeedback(socket, path); }, true});
    routes.insert(3, {"/config.js", "configJSON", [this](QTcpSocket *socket, const QString &) {
                          configJSON(socket);
                      }});
    return routes;
}

WebServer::~WebServer() = default;

void WebServer::listen(const QString &address, int port, const QString &webDir, double maxAudioLag)
{
    m_webDir = webDir;
    m_maxAudioLag = maxAudioLag;
    if (!m_tcpServer) {
        m_tcpServer = std::make_unique<QTcpServer>();
        connect(m_tcpServer.get(), &QTcpServer::newConnection, this, &WebServer::newConnection);
        m_acceptBackoff = std::make_unique<AcceptBackoff>(m_tcpServer.get(),
                                                          QStringLiteral("viewer HTTP server"));
    }
    const bool listening = m_tcpServer->listen(QHostAddress(address), quint16(port));
    qDebug() << "listen:" << listening << QThread::currentThread();
}

void WebServer::stopListen()
{
    qDebug() << "stopListen";
    if (m_tcpServer)
        m_tcpServer->close();
}

void WebServer::setMaxAudioLag(double maxAudioLag)
{
    m_maxAudioLag = maxAudioLag;
}

quint16 WebServer::serverPort() const
{
    return m_tcpServer ? m_tcpServer->serverPort() : 0;
}

void WebServer::newConnection()
{
    m_requests.accept(m_tcpServer->nextPendingConnection(), this);
}

void WebServer::readClient()
{
    m_requests.readRequest(qobject_cast<QTcpSocket *>(sender()), m_webDir);
}

void WebServer::discardClient() {}

void WebServer::addFeedback(QTcpSocket *socket, const QString &path)
{
    const QStringList parts = path.split('?');
    if (parts.size() < 2) {
        HttpResponse::sendResponse(socket, "400", "Bad request");
        socket->close();
        return;
    }
    QString query = parts.at(1);
    query.remove("raw=");
    const QByteArray payload = QByteArray::fromPercentEncoding(query.toUtf8());
    // Refused here, the viewer learns of it; the store would only log it.
    if (!isQuestionPayload(payload) || !withinBounds(payload)) {
        HttpResponse::sendResponse(socket, "400", "Bad request");
        socket->close();
        return;
    }
    if (!m_questionRate.admit(socket->peerAddress().toString())) {
        HttpResponse::sendResponse(socket, "429", "Too many questions, please wait a minute");
        socket->close();
        return;
    }
    // "OK" promises the question is kept, so it waits for the commit to disk.
    m_storage->storeQuestion(payload, socket, [socket](bool stored, const QString &error) {
        if (stored)
            HttpResponse::sendResponse(socket, "200", "OK");
        else
            HttpResponse::sendResponse(socket, "500", "Question not stored: " + error);
        socket->close();
    });
}

void WebServer::configJSON(QTcpSocket *socket)
{
    const QJsonObject config{{"maxAudioLag", m_maxAudioLag}};
    HttpResponse::sendJson(socket, QJsonDocument(config).toJson());
}

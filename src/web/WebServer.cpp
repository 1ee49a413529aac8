#include "web/WebServer.h"

#include "web/DBStorage.h"
#include "web/HttpRequest.h"
#include "web/HttpResponse.h"
#include "web/QuestionPayload.h"
#include "web/SharedRoutes.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>

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
    : m_vote(vote), m_storage(storage), m_quiz(quiz), m_questions(questions), m_routes(routes()),
      m_http(&m_routes, QStringLiteral("viewer HTTP server"))
{}

QVector<HttpRoute> WebServer::routes()
{
    QVector<HttpRoute> routes =
        SharedRoutes::listAndVoteRoutes(m_storage, m_vote, m_quiz, m_questions);
    routes.insert(0, {"/feedback.php", "addFeedback",
                      [this](QTcpSocket *socket, const HttpRequest &request) {
                          addFeedback(socket, request);
                      },
                      true});
    routes.insert(3, {"/config.js", "configJSON", [this](QTcpSocket *socket, const HttpRequest &) {
                          configJSON(socket);
                      }});
    return routes;
}

WebServer::~WebServer() = default;

void WebServer::listen(const QString &address, int port, const QString &webDir, double maxAudioLag)
{
    m_routes.setWebDir(webDir);
    m_maxAudioLag = maxAudioLag;
    const bool listening = m_http.listen(QHostAddress(address), quint16(port));
    qDebug() << "listen:" << listening << QThread::currentThread();
}

void WebServer::stopListen()
{
    qDebug() << "stopListen";
    m_http.close();
}

void WebServer::setMaxAudioLag(double maxAudioLag)
{
    m_maxAudioLag = maxAudioLag;
}

quint16 WebServer::serverPort() const
{
    return m_http.serverPort();
}

void WebServer::addFeedback(QTcpSocket *socket, const HttpRequest &request)
{
    const QByteArray payload =
        QByteArray::fromPercentEncoding(request.queryItem(QStringLiteral("raw")).toUtf8());
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

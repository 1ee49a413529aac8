#include "web/APIWebServer.h"

#include "web/SharedRoutes.h"

#include <QDebug>

APIWebServer::APIWebServer(VoteState *vote, DBStorage *storage, const QuizBoard *quiz,
                           const QuestionBoard *questions)
    : m_routes(SharedRoutes::listAndVoteRoutes(storage, vote, quiz, questions)),
      m_http(&m_routes, QStringLiteral("API HTTP server"))
{
    connect(&m_http, &HttpServer::connectionAccepted, this,
            [] { qDebug() << "NEW CONNECTION TO API SERVER"; });
}

APIWebServer::~APIWebServer() = default;

bool APIWebServer::listen(const QString &address, int port, const QString &webDir)
{
    m_routes.setWebDir(webDir);
    const QHostAddress host =
        address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
    const bool listening = m_http.listen(host, quint16(port));
    qDebug() << " START API SERVER:" << listening << m_http.serverPort();
    return listening;
}

void APIWebServer::close()
{
    m_http.close();
}

QHostAddress APIWebServer::serverAddress() const
{
    return m_http.serverAddress();
}

quint16 APIWebServer::serverPort() const
{
    return m_http.serverPort();
}

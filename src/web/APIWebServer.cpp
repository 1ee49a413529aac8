#include "web/APIWebServer.h"

#include "net/AcceptBackoff.h"
#include "web/SharedRoutes.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

APIWebServer::APIWebServer(VoteState *vote, DBStorage *storage, const QuizBoard *quiz,
                           const QuestionBoard *questions)
    : m_tcpServer(std::make_unique<QTcpServer>()),
      m_acceptBackoff(
          std::make_unique<AcceptBackoff>(m_tcpServer.get(), QStringLiteral("API HTTP server"))),
      m_vote(vote), m_storage(storage),
      m_requests(SharedRoutes::listAndVoteRoutes(storage, vote, quiz, questions))
{
    connect(m_tcpServer.get(), &QTcpServer::newConnection, this, &APIWebServer::newConnection);
}

APIWebServer::~APIWebServer() = default;

bool APIWebServer::listen(const QString &address, int port, const QString &webDir)
{
    m_webDir = webDir;
    const QHostAddress host =
        address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
    const bool listening = m_tcpServer->listen(host, quint16(port));
    qDebug() << " START API SERVER:" << listening << m_tcpServer->serverPort();
    return listening;
}

void APIWebServer::close()
{
    m_tcpServer->close();
}

QHostAddress APIWebServer::serverAddress() const
{
    return m_tcpServer->isListening() ? m_tcpServer->serverAddress() : QHostAddress();
}

quint16 APIWebServer::serverPort() const
{
    return m_tcpServer->serverPort();
}

void APIWebServer::newConnection()
{
    qDebug() << "NEW CONNECTION TO API SERVER";
    m_requests.accept(m_tcpServer->nextPendingConnection(), this);
}

void APIWebServer::readClient()
{
    m_requests.readRequest(qobject_cast<QTcpSocket *>(sender()), m_webDir);
}

void APIWebServer::discardClient() {}

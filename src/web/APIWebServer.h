#pragma once

#include "web/HttpRoutes.h"
#include "web/HttpServer.h"

#include <QHostAddress>
#include <QObject>

class DBStorage;
class QuestionBoard;
class QuizBoard;
class VoteState;

// The HTTP/1.0 server of a cloud session: the question lists, the vote results and the static
// files of the web directory, on a port the system picks. Questions arrive through the cloud
// relay instead. Lives on the GUI thread.
class APIWebServer : public QObject
{
    Q_OBJECT
public:
    // Neither pointer is owned; both must outlive the server.
    APIWebServer(VoteState *vote, DBStorage *storage, const QuizBoard *quiz = nullptr,
                 const QuestionBoard *questions = nullptr);
    ~APIWebServer() override;

    // An empty address means every interface; port 0 lets the system pick a free port.
    bool listen(const QString &address, int port, const QString &webDir);
    void close();
    // The port the listener is bound to, 0 while it is closed.
    quint16 serverPort() const;
    // The address it listens on; null while it does not.
    QHostAddress serverAddress() const;

private:
    HttpRoutes m_routes;
    HttpServer m_http;
};

#pragma once

#include "web/HttpRoutes.h"
#include "web/HttpServer.h"
#include "web/RateLimit.h"

#include <QObject>

class DBStorage;
class QuestionBoard;
class QuizBoard;
class QTcpSocket;
class VoteState;
struct HttpRequest;

// The viewer HTTP/1.0 server of a local session: static files of the web directory, question
// intake, the question lists, the vote results and the player configuration. Lives on the GUI
// thread with its listener and connections.
class WebServer : public QObject
{
    Q_OBJECT
public:
    // No pointer is owned; each must outlive the server. Without a quiz board no quiz shows.
    WebServer(VoteState *vote, DBStorage *storage, const QuizBoard *quiz = nullptr,
              const QuestionBoard *questions = nullptr);
    ~WebServer() override;

    // Opens the listener; a failure is only logged. webDir is prefixed unchanged to request
    // paths.
    void listen(const QString &address, int port, const QString &webDir, double maxAudioLag);
    // Stops accepting; connections already accepted are answered as usual.
    void stopListen();
    // The value "/config.js" reports from now on.
    void setMaxAudioLag(double maxAudioLag);
    // The port the listener is bound to, 0 while it is closed.
    quint16 serverPort() const;

    // Questions one viewer address may ask per minute (0: no limit); more are refused with 429.
    static constexpr int kQuestionsPerAddressPerMinute = 10;
    void setQuestionsPerMinute(int questions) { m_questionRate.setMaxEvents(questions); }
    // Longer names and questions are refused with 400.
    static constexpr int kMaxNameChars = 100;
    static constexpr int kMaxQuestionChars = 2000;

private:
    QVector<HttpRoute> routes();
    void addFeedback(QTcpSocket *socket, const HttpRequest &request);
    void configJSON(QTcpSocket *socket);

    double m_maxAudioLag = 0;
    VoteState *m_vote;
    DBStorage *m_storage;
    const QuizBoard *m_quiz;
    const QuestionBoard *m_questions;
    HttpRoutes m_routes;
    HttpServer m_http;
    RateLimit m_questionRate{kQuestionsPerAddressPerMinute, 60000};
};

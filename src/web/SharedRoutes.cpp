#include "web/SharedRoutes.h"

#include "quiz/QuizBoard.h"

#include "audience/VoteState.h"
#include "web/DBStorage.h"
#include "web/HttpResponse.h"
#include "web/JsonText.h"
#include "web/QuestionBoard.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <algorithm>

namespace SharedRoutes {

namespace {

QString peerAddress(QTcpSocket *socket)
{
    return socket->peerAddress().toString();
}

// Members in ascending key order, each at the indentation of an element of the top-level array.
using MemberWriter = void (*)(QByteArray &out, const QuestionRecord &record);

QByteArray listBody(const QuestionRecords &records, const QString &addr, MemberWriter members)
{
    if (records.isEmpty())
        return "[\n]\n";
    const QByteArray addrMember = "        \"addr\": " + JsonText::quoted(addr) + ",\n";
    QByteArray out = "[\n";
    for (int i = 0; i < records.size(); ++i) {
        out += "    {\n";
        out += addrMember;
        out += "        \"id\": " + QByteArray::number(records.at(i).id) + ",\n";
        members(out, records.at(i));
        out += i + 1 < records.size() ? "    },\n" : "    }\n";
    }
    out += "]\n";
    return out;
}

// What the presenter has not let through (waiting) or took away (hidden) reaches no page.
QuestionRecords visibleQuestions(DBStorage *storage)
{
    QuestionRecords records = storage->selectQuestions();
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const QuestionRecord &r) { return !r.visibleToViewers(); }),
                  records.end());
    return records;
}

} // namespace

QByteArray feedbackList(const QuestionRecords &records, const QString &addr)
{
    return listBody(records, addr, [](QByteArray &out, const QuestionRecord &record) {
        const QByteArray raw = "{\n    \"msg\": " + JsonText::quoted(record.question) +
                               ",\n    \"name\": " + JsonText::quoted(record.name) + "\n}\n";
        out += "        \"raw\": " + JsonText::quoted(QString::fromUtf8(raw)) + "\n";
    });
}

QByteArray feedbackListFlat(const QuestionRecords &records, const QString &addr)
{
    return listBody(records, addr, [](QByteArray &out, const QuestionRecord &record) {
        out += "        \"name\": " + JsonText::quoted(record.name) + ",\n";
        out += "        \"question\": " + JsonText::quoted(record.question) + "\n";
    });
}

QByteArray voteResults(const QStringList &options, const QVector<qint32> &tally)
{
    QJsonArray decoded;
    for (const QString &option : options)
        decoded.append(QString::fromUtf8(QByteArray::fromPercentEncoding(option.toUtf8())));
    QJsonArray results;
    for (int i = 1; i < tally.size(); ++i)
        results.append(tally.at(i));
    const QJsonObject body{{"options", decoded}, {"results", results}, {"total", tally.value(0)}};
    return QJsonDocument(body).toJson();
}

QVector<HttpRoute> listAndVoteRoutes(DBStorage *storage, const VoteState *vote,
                                     const QuizBoard *quiz, const QuestionBoard *questions)
{
    return {
        {"/feedback_list.php", "listFeedback",
         [storage](QTcpSocket *socket, const HttpRequest &) {
             HttpResponse::sendJson(socket,
                                    feedbackList(visibleQuestions(storage), peerAddress(socket)));
         }},
        {"/feedback_list.json", "listFeedbackFlat",
         [storage](QTcpSocket *socket, const HttpRequest &) {
             HttpResponse::sendJson(
                 socket, feedbackListFlat(visibleQuestions(storage), peerAddress(socket)));
         }},
        {"/vote_result_json.php", "voteJSON",
         [vote](QTcpSocket *socket, const HttpRequest &) {
             HttpResponse::sendJson(socket, voteResults(vote->options(), vote->tally()));
         }},
        {"/quiz_result.json", "quizJSON",
         [quiz](QTcpSocket *socket, const HttpRequest &) {
             HttpResponse::sendJson(socket, quiz ? quiz->json() : QuizBoard().json());
         }},
        {"/questions.json", "questionsJSON",
         [questions](QTcpSocket *socket, const HttpRequest &) {
             HttpResponse::sendJson(socket, questions ? questions->json()
                                                      : QByteArray("{\"questions\": []}"));
         }},
    };
}

} // namespace SharedRoutes

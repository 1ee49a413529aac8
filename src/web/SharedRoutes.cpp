#include "web/SharedRoutes.h"

#include "audience/VoteDlg.h"
#include "web/DBStorage.h"
#include "web/HttpResponse.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace SharedRoutes {

namespace {

QString peerAddress(QTcpSocket *socket)
{
    return socket->peerAddress().toString();
}

void replyJson(QTcpSocket *socket, const QByteArray &json)
{
    HttpResponse::sendResponse(socket, "200", QString::fromUtf8(json));
}

QByteArray listBody(const QJsonArray &records, const QString &addr,
                    void (*fill)(QJsonObject &element, const QJsonObject &record))
{
    QJsonArray list;
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        QJsonObject element{{"addr", addr}, {"id", record.value("id")}};
        fill(element, record);
        list.append(element);
    }
    return QJsonDocument(list).toJson();
}

} // namespace

QByteArray feedbackList(const QJsonArray &records, const QString &addr)
{
    return listBody(records, addr, [](QJsonObject &element, const QJsonObject &record) {
        const QJsonObject raw{{"msg", record.value("question")}, {"name", record.value("name")}};
        element.insert("raw", QString::fromUtf8(QJsonDocument(raw).toJson()));
    });
}

QByteArray feedbackListFlat(const QJsonArray &records, const QString &addr)
{
    return listBody(records, addr, [](QJsonObject &element, const QJsonObject &record) {
        element.insert("name", record.value("name"));
        element.insert("question", record.value("question"));
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

QVector<HttpRoute> listAndVoteRoutes(DBStorage *storage, const VoteDlg *voteDlg)
{
    return {
        {"/feedback_list.php", "listFeedback",
         [storage](QTcpSocket *socket, const QString &) {
             replyJson(socket, feedbackList(storage->selectQuestions(), peerAddress(socket)));
         }},
        {"/feedback_list.json", "listFeedbackFlat",
         [storage](QTcpSocket *socket, const QString &) {
             replyJson(socket, feedbackListFlat(storage->selectQuestions(), peerAddress(socket)));
         }},
        {"/vote_result_json.php", "voteJSON",
         [voteDlg](QTcpSocket *socket, const QString &) {
             replyJson(socket, voteResults(voteDlg->options(), voteDlg->votes()));
         }},
    };
}

} // namespace SharedRoutes

#pragma once

#include "web/HttpRequestHandler.h"

#include <QByteArray>
#include <QJsonArray>
#include <QStringList>
#include <QVector>

class DBStorage;
class VoteDlg;

// The question list and vote result routes that the viewer and the API servers both answer.
namespace SharedRoutes {

// "/feedback_list.php", "/feedback_list.json" and "/vote_result_json.php", in that order.
// The store and the voting window are read on the caller's thread at every request.
QVector<HttpRoute> listAndVoteRoutes(DBStorage *storage, const VoteDlg *voteDlg);

// [{ "addr", "id", "raw" }] where "raw" is the indented JSON text of { "msg", "name" }.
QByteArray feedbackList(const QJsonArray &records, const QString &addr);

// [{ "addr", "id", "name", "question" }].
QByteArray feedbackListFlat(const QJsonArray &records, const QString &addr);

// { "options", "results", "total" }: the options percent-decoded, the tally's entry 0 as the
// total and its other entries as the results.
QByteArray voteResults(const QStringList &options, const QVector<qint32> &tally);

} // namespace SharedRoutes

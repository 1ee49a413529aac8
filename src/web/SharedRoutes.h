#pragma once

#include "web/HttpRoutes.h"
#include "web/QuestionRecord.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

class DBStorage;
class QuestionBoard;
class QuizBoard;
class VoteState;

// The question list and vote result routes that the viewer and the API servers both answer.
namespace SharedRoutes {

// "/feedback_list.php", "/feedback_list.json", "/vote_result_json.php", "/quiz_result.json" and
// "/questions.json", in that order. The store, the vote, the quiz board (null: no quiz is
// shown) and the question board (null: the list is empty) are read on the caller's thread at
// every request.
QVector<HttpRoute> listAndVoteRoutes(DBStorage *storage, const VoteState *vote,
                                     const QuizBoard *quiz = nullptr,
                                     const QuestionBoard *questions = nullptr);

// The list bodies below are laid out exactly as QJsonDocument::toJson() would lay them out,
// but written directly: the lists grow long and are read often.

// [{ "addr", "id", "raw" }] where "raw" is the indented JSON text of { "msg", "name" }.
QByteArray feedbackList(const QuestionRecords &records, const QString &addr);

// [{ "addr", "id", "name", "question" }].
QByteArray feedbackListFlat(const QuestionRecords &records, const QString &addr);

// { "options", "results", "total" }: the options percent-decoded, the tally's entry 0 as the
// total and its other entries as the results.
QByteArray voteResults(const QStringList &options, const QVector<qint32> &tally);

} // namespace SharedRoutes

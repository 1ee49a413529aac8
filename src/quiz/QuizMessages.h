#pragma once

#include "quiz/QuizPlay.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

// The command messages of a quiz played live, beside the vote and game messages and built the
// same way (indented JSON objects with "command"). Pages that do not know them ignore them.
//
// To viewers:
//   "quiz_question"     "number", "count", "title", "options" (shuffled: the right answer is
//                       not told), "time_left_ms"
//   "quiz_question_end" "number", "right" (the right option's number, from 1), "counts"
//   "quiz_leaderboard"  "final", "leaders": [{"nickname", "score"}], best first
// From viewers:
//   "quiz_answer"       "number", "option" (JSON numbers, from 1), "nickname" (may be empty);
//                       passed on by the cloud relay to the presenter with "viewer" added, the
//                       relay's key for the viewer (stable per address and room, not the address)
namespace QuizMessages {

// A leaderboard message names at most this many players: it goes to every viewer.
constexpr int kLeaderboardSize = 10;

// The title and options cut as a vote's are (CommandMessages::kMaxTitleChars): a quiz file
// written elsewhere may hold longer ones.
QString question(const QuizPlay::AskedQuestion &question, qint64 timeLeftMs);
QString questionEnd(int number, int right, const QVector<int> &counts);
QString leaderboard(const QVector<QuizPlay::Standing> &standings, bool final);
// The leaderboard's "leaders": the first kLeaderboardSize standings, best first.
QJsonArray leaders(const QVector<QuizPlay::Standing> &standings);

struct Answer
{
    int number = 0; // 0 when missing or not a whole number
    int option = 0;
    QString nickname;
};
// Whether a viewer's message is an answer at all; answer() reads it.
bool isAnswer(const QJsonObject &message);
Answer answer(const QJsonObject &message);
QString forwardedAnswer(const QString &viewer, const Answer &answer);

} // namespace QuizMessages

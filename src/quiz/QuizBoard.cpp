#include "quiz/QuizBoard.h"

#include "quiz/QuizMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QuizBoard::QuizBoard(Source source) : m_source(std::move(source)) {}

QByteArray QuizBoard::json() const
{
    const Snapshot snapshot = m_source ? m_source() : Snapshot{};
    if (!snapshot.play)
        return QJsonDocument(QJsonObject{{"quiz", false}}).toJson();
    const QuizPlay &play = *snapshot.play;
    const QuizPlay::AskedQuestion &asked = play.askedQuestion();
    QJsonArray counts;
    for (const int count : play.answerCounts())
        counts.append(count);
    return QJsonDocument(QJsonObject{{"quiz", true},
                                     {"title", snapshot.title},
                                     {"number", asked.number},
                                     {"count", play.questionCount()},
                                     {"question", asked.title},
                                     {"options", QJsonArray::fromStringList(asked.options)},
                                     {"counts", counts},
                                     {"answered", play.answeredCount()},
                                     {"right", play.rightOption()},
                                     {"time_left_ms", snapshot.timeLeftMs},
                                     {"final", play.phase() == QuizPlay::Phase::Finished},
                                     {"leaders", QuizMessages::leaders(play.leaderboard())}})
        .toJson();
}

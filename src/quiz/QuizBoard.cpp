#include "quiz/QuizBoard.h"

#include "quiz/QuizSession.h"
#include "relay/QuizMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void QuizBoard::forget(const QuizSession *session)
{
    if (m_session == session)
        m_session = nullptr;
}

QByteArray QuizBoard::json() const
{
    if (!m_session)
        return QJsonDocument(QJsonObject{{"quiz", false}}).toJson();
    const QuizPlay &play = m_session->play();
    const QuizPlay::AskedQuestion &asked = play.askedQuestion();
    QJsonArray counts;
    for (const int count : play.answerCounts())
        counts.append(count);
    QJsonArray leaders;
    const QVector<QuizPlay::Standing> standings = play.leaderboard();
    for (int i = 0; i < standings.size() && i < QuizMessages::kLeaderboardSize; ++i)
        leaders.append(
            QJsonObject{{"nickname", standings[i].nickname}, {"score", standings[i].score}});
    return QJsonDocument(QJsonObject{{"quiz", true},
                                     {"title", m_session->title()},
                                     {"number", asked.number},
                                     {"count", play.questionCount()},
                                     {"question", asked.title},
                                     {"options", QJsonArray::fromStringList(asked.options)},
                                     {"counts", counts},
                                     {"answered", play.answeredCount()},
                                     {"right", play.rightOption()},
                                     {"time_left_ms", m_session->timeLeftMs()},
                                     {"final", play.phase() == QuizPlay::Phase::Finished},
                                     {"leaders", leaders}})
        .toJson();
}

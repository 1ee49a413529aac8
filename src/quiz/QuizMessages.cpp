#include "quiz/QuizMessages.h"

#include "relay/CommandMessages.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace QuizMessages {

namespace {

QString serialise(const QJsonObject &message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson());
}

} // namespace

QString question(const QuizPlay::AskedQuestion &question, qint64 timeLeftMs)
{
    QJsonArray options;
    for (const QString &option : question.options)
        options.append(CommandMessages::bounded(option, CommandMessages::kMaxOptionChars));
    return serialise(
        {{"command", "quiz_question"},
         {"number", question.number},
         {"count", question.count},
         {"title", CommandMessages::bounded(question.title, CommandMessages::kMaxTitleChars)},
         {"options", options},
         {"time_left_ms", timeLeftMs}});
}

QString questionEnd(int number, int right, const QVector<int> &counts)
{
    QJsonArray countArray;
    for (const int count : counts)
        countArray.append(count);
    return serialise({{"command", "quiz_question_end"},
                      {"number", number},
                      {"right", right},
                      {"counts", countArray}});
}

QJsonArray leaders(const QVector<QuizPlay::Standing> &standings)
{
    QJsonArray leaders;
    for (int i = 0; i < standings.size() && i < kLeaderboardSize; ++i)
        leaders.append(
            QJsonObject{{"nickname", standings[i].nickname}, {"score", standings[i].score}});
    return leaders;
}

QString leaderboard(const QVector<QuizPlay::Standing> &standings, bool final)
{
    return serialise(
        {{"command", "quiz_leaderboard"}, {"final", final}, {"leaders", leaders(standings)}});
}

bool isAnswer(const QJsonObject &message)
{
    return message.value("command").toString() == QLatin1String("quiz_answer");
}

Answer answer(const QJsonObject &message)
{
    return Answer{message.value("number").toInt(0), message.value("option").toInt(0),
                  message.value("nickname").toString()};
}

QString forwardedAnswer(const QString &viewer, const Answer &answer)
{
    return serialise({{"command", "quiz_answer"},
                      {"viewer", viewer},
                      {"number", answer.number},
                      {"option", answer.option},
                      {"nickname", answer.nickname}});
}

} // namespace QuizMessages

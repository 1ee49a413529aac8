#include "relay/QuizCatchUp.h"

#include "relay/CommandMessages.h"

#include <QJsonDocument>

#include <algorithm>

void QuizCatchUp::note(const QJsonObject &message, const QString &text)
{
    const QString command = CommandMessages::commandOf(message);
    if (command == "quiz_question") {
        clear();
        m_question = message;
        m_questionSent.start();
    } else if (command == "quiz_question_end") {
        m_questionEnd = text;
    } else if (command == "quiz_leaderboard") {
        // After the final standings, the last question is history.
        if (message.value("final").toBool())
            clear();
        m_leaderboard = text;
    }
}

QStringList QuizCatchUp::forJoiner() const
{
    QStringList messages;
    if (!m_question.isEmpty()) {
        QJsonObject question = m_question;
        const qint64 leftWhenSent = qint64(question.value("time_left_ms").toDouble());
        question["time_left_ms"] = std::max<qint64>(
            0, m_questionEnd.isEmpty() ? leftWhenSent - m_questionSent.elapsed() : 0);
        messages << QString::fromUtf8(QJsonDocument(question).toJson());
    }
    if (!m_questionEnd.isEmpty())
        messages << m_questionEnd;
    if (!m_leaderboard.isEmpty())
        messages << m_leaderboard;
    return messages;
}

void QuizCatchUp::clear()
{
    m_question = QJsonObject();
    m_questionEnd.clear();
    m_leaderboard.clear();
}

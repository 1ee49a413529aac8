#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// What a command viewer who joins while a quiz is played must be sent to see what the others
// see: the open question with the time it has left, then how it ended and the standings after
// it; or, once the quiz is over, the final leaderboard. Each relay keeps one per audience.
class QuizCatchUp
{
public:
    // Notes a message on its way to the command viewers; any but a quiz's is ignored.
    void note(const QJsonObject &message, const QString &text);
    // The messages for a viewer joining now, in the order the others received them.
    QStringList forJoiner() const;
    void clear();

private:
    QJsonObject m_question;
    QElapsedTimer m_questionSent;
    QString m_questionEnd;
    QString m_leaderboard;
};

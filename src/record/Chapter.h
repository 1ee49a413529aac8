#pragma once

#include <QString>
#include <QVector>

// A point of the recording worth jumping to: a vote, a quiz question, a highlighted question.
struct Chapter
{
    qint64 startMs = 0; // since the recording's first packet
    QString title;
};

using ChapterList = QVector<Chapter>;

namespace ChapterTitles {

QString forVote(const QString &title);
// The chapter a command message sent to viewers opens, empty when it opens none.
QString forCommand(const QString &message);
// The chapter a questions list sent to viewers opens: the question it newly puts on screen,
// titled by its text; empty when the highlight did not change or was taken off. `highlighted`
// keeps the id last on screen between calls.
QString forQuestionList(const QString &message, qint64 *highlighted);

} // namespace ChapterTitles

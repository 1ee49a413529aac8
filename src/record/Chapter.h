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

} // namespace ChapterTitles

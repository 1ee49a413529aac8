#include "record/Chapter.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace ChapterTitles {

QString forVote(const QString &title)
{
    return QCoreApplication::translate("Chapter", "Vote: %1").arg(title);
}

QString forCommand(const QString &message)
{
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    const QString command = object.value("command").toString();
    if (command == "quiz_question")
        return QCoreApplication::translate("Chapter", "Quiz question %1: %2")
            .arg(object.value("number").toInt())
            .arg(object.value("title").toString());
    if (command == "vote_start")
        return forVote(object.value("title").toString());
    return QString();
}

} // namespace ChapterTitles

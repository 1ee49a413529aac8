#include "record/Chapter.h"

#include <QCoreApplication>
#include <QJsonArray>
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

QString forQuestionList(const QString &message, qint64 *highlighted)
{
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    if (object.value("command").toString() != "questions")
        return QString();
    const qint64 id = qint64(object.value("highlight").toDouble());
    if (id == *highlighted)
        return QString();
    *highlighted = id;
    for (const QJsonValue &entry : object.value("questions").toArray())
        if (id != 0 && qint64(entry.toObject().value("id").toDouble()) == id)
            return QCoreApplication::translate("Chapter", "Question: %1")
                .arg(entry.toObject().value("question").toString());
    return QString();
}

} // namespace ChapterTitles

#include "web/QuestionPayload.h"

#include <QJsonDocument>
#include <QJsonObject>

bool isQuestionPayload(const QByteArray &data)
{
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject())
        return false;
    const QJsonObject payload = document.object();
    return payload.value("name").isString() && payload.value("msg").isString();
}

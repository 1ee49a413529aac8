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

QString wellFormedText(const QString &text)
{
    QString out = text;
    const int size = out.size();
    for (int i = 0; i < size; ++i) {
        const QChar unit = out.at(i);
        if (unit.isHighSurrogate() && i + 1 < size && out.at(i + 1).isLowSurrogate())
            ++i; // a pair
        else if (unit.isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

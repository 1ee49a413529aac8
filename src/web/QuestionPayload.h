#pragma once

#include <QByteArray>
#include <QString>

// A question payload is the UTF-8 text of a JSON object whose "name" and "msg" are strings;
// anything else would be refused by the store after the viewer had been told "OK".
bool isQuestionPayload(const QByteArray &data);

// `text` with every lone surrogate (half of a pair without its other half) replaced by U+FFFD.
// Qt's UTF-8 encoder would otherwise swallow the character after one when the text is stored.
QString wellFormedText(const QString &text);

#pragma once

#include <QByteArray>

// A question payload is the UTF-8 text of a JSON object whose "name" and "msg" are strings;
// anything else would be refused by the store after the viewer had been told "OK".
bool isQuestionPayload(const QByteArray &data);

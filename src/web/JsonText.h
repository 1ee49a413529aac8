#pragma once

#include <QByteArray>
#include <QString>

// Pieces of JSON text laid out exactly as QJsonDocument::toJson(QJsonDocument::Indented) lays
// them out, for bodies too large to go through QJsonObject on every request.
namespace JsonText {

// The quoted string with the escapes QJsonDocument writes: \" \\ \b \f \n \r \t, \u00XX for
// the other control characters, \uXXXX for a lone surrogate; everything else as UTF-8.
QByteArray quoted(const QString &text);

} // namespace JsonText

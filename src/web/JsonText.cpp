#include "web/JsonText.h"

namespace JsonText {

namespace {

void appendUnicodeEscape(QByteArray &out, ushort unit)
{
    static const char hex[] = "0123456789abcdef";
    out += "\\u";
    out += hex[(unit >> 12) & 0xf];
    out += hex[(unit >> 8) & 0xf];
    out += hex[(unit >> 4) & 0xf];
    out += hex[unit & 0xf];
}

void appendAscii(QByteArray &out, ushort unit)
{
    switch (unit) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        if (unit < 0x20)
            appendUnicodeEscape(out, unit);
        else
            out += char(unit);
    }
}

void appendUtf8(QByteArray &out, uint codePoint)
{
    if (codePoint < 0x800) {
        out += char(0xc0 | (codePoint >> 6));
    } else if (codePoint < 0x10000) {
        out += char(0xe0 | (codePoint >> 12));
        out += char(0x80 | ((codePoint >> 6) & 0x3f));
    } else {
        out += char(0xf0 | (codePoint >> 18));
        out += char(0x80 | ((codePoint >> 12) & 0x3f));
        out += char(0x80 | ((codePoint >> 6) & 0x3f));
    }
    out += char(0x80 | (codePoint & 0x3f));
}

} // namespace

QByteArray quoted(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar unit = text.at(i);
        if (unit.unicode() < 0x80) {
            appendAscii(out, unit.unicode());
        } else if (unit.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, text.at(i + 1)));
            ++i;
        } else if (unit.isSurrogate()) {
            appendUnicodeEscape(out, unit.unicode());
        } else {
            appendUtf8(out, unit.unicode());
        }
    }
    out += '"';
    return out;
}

} // namespace JsonText

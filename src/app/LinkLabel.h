#pragma once

#include <QString>

class QLabel;

// The white links of the studio's windows: selectable, reachable by mouse and keyboard, opened in
// the system browser, with the pointing-hand cursor.
namespace LinkLabel {

// "<a style='color:white;' href='url'>html</a>"; `html` is taken as markup.
QString linkHtml(const QString &url, const QString &html);

// Turns `label` into such a link.
void showLink(QLabel *label, const QString &url, const QString &html);

// `text` as `label` can show it whole within its maximum width: when wider, whole characters are
// dropped from the end (before a "..." that `text` ends with) and "..." follows what is left, so
// the label never cuts through a character or hides that the text goes on.
QString fittedText(const QLabel *label, const QString &text);

} // namespace LinkLabel

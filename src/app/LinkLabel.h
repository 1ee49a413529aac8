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

} // namespace LinkLabel

#include "app/LinkLabel.h"

#include <QFontMetrics>
#include <QLabel>

namespace LinkLabel {

QString linkHtml(const QString &url, const QString &html)
{
    return QString("<a style='color:white;' href='") + url + "'>" + html + "</a>";
}

void showLink(QLabel *label, const QString &url, const QString &html)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                   Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(true);
    label->setCursor(Qt::PointingHandCursor);
    label->setText(linkHtml(url, html));
}

QString fittedText(const QLabel *label, const QString &text)
{
    // The style sheet's font is the label's only once it is polished.
    label->ensurePolished();
    const QFontMetrics metrics(label->font());
    const QMargins margins = label->contentsMargins();
    const int width =
        label->maximumWidth() - margins.left() - margins.right() - 2 * label->margin();
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const QString ellipsis = "...";
    QString kept = text.endsWith(ellipsis) ? text.chopped(ellipsis.size()) : text;
    while (!kept.isEmpty() && metrics.horizontalAdvance(kept + ellipsis) > width)
        kept.chop(1);
    return kept + ellipsis;
}

} // namespace LinkLabel

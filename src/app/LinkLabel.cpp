#include "app/LinkLabel.h"

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

} // namespace LinkLabel

#include "app/StatusBarWidget.h"

#include "app/LinkLabel.h"
#include "ui_StatusBarWidget.h"

StatusBarWidget::StatusBarWidget(QString text, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StatusBarWidget>())
{
    ui->setupUi(this);
    ui->lblVersion->setText(QString(kVersion) + "    " + text);
    ui->lblVersion->setStyleSheet("font-weight:bold;");
    LinkLabel::showLink(ui->lblHelp, kHelpUrl, "help &raquo;");
}

StatusBarWidget::~StatusBarWidget() = default;

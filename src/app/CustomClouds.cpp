#include "app/CustomClouds.h"

#include "app/LinkLabel.h"
#include "session/CloudServerList.h"
#include "ui_CustomClouds.h"

#include <QSettings>

CustomClouds::CustomClouds(QSettings *settings, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::CustomClouds>()), m_settings(settings)
{
    ui->setupUi(this);
    setWindowTitle(tr("Custom Servers"));
    LinkLabel::showLink(ui->lblHelp, kHelpUrl, tr("About Custom Server") + " &raquo;");
}

CustomClouds::~CustomClouds() = default;

QLineEdit *CustomClouds::serverEdit(int index) const
{
    QLineEdit *const edits[] = {ui->txt1, ui->txt2, ui->txt3};
    return edits[index];
}

int CustomClouds::editServers()
{
    for (int i = 0; i < CloudServerList::kCustomServerCount; ++i)
        serverEdit(i)->setText(
            m_settings->value(CloudServerList::customServerKey(i), QString()).toString());
    const int result = exec();
    if (result == QDialog::Accepted) {
        for (int i = 0; i < CloudServerList::kCustomServerCount; ++i)
            m_settings->setValue(CloudServerList::customServerKey(i), serverEdit(i)->text());
        m_settings->sync();
    }
    return result;
}

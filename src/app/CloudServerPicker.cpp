#include "app/CloudServerPicker.h"

#include "app/CustomClouds.h"
#include "session/CloudServerList.h"
#include "session/PublicServerList.h"
#include "session/StudioSession.h"

#include <QComboBox>

CloudServerPicker::CloudServerPicker(QComboBox *combo, StudioSession *session, QSettings *settings)
    : m_combo(combo), m_session(session), m_settings(settings)
{
    connect(m_session->publicServers(), &PublicServerList::changed, this, [this] {
        // A late public list must not undo the presenter's (or the restored) choice.
        fill(m_combo->currentData().isValid() ? QString() : m_combo->currentText());
    });
}

void CloudServerPicker::fill(const QString &wanted)
{
    m_ready = false;
    m_combo->clear();
    m_combo->addItems(m_session->publicServers()->items());
    m_combo->addItem(CloudServerList::kAddCustomItem, QString(CloudServerList::kAddCustomData));
    if (CloudServerList::isServer(wanted) && m_combo->findText(wanted) >= 0)
        m_combo->setCurrentText(wanted);
    m_ready = true;
}

bool CloudServerPicker::onIndexChanged()
{
    if (m_ready && m_combo->currentData().toString() == CloudServerList::kAddCustomData) {
        CustomClouds dialog(m_settings);
        dialog.editServers();
        fill(QString());
        return false;
    }
    m_session->setCloudServer(m_session->viewerPlace().cloudMode, m_combo->currentText());
    return true;
}

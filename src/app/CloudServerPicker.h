#pragma once

#include <QObject>
#include <QString>

class QComboBox;
class QSettings;
class StudioSession;

// The main window's cloud server list: the presenter's own and the public servers, then "add
// custom server", which opens the dialog that edits the own ones. The choice goes to the
// session; a late public list keeps it. GUI thread only.
class CloudServerPicker : public QObject
{
    Q_OBJECT
public:
    // All are lent and must outlive the picker.
    CloudServerPicker(QComboBox *combo, StudioSession *session, QSettings *settings);

    // Fills the list, choosing `wanted` when it is offered, else the first item.
    void fill(const QString &wanted);
    // The list's choice changed; returns whether a server (or placeholder) is now the choice,
    // false while the custom servers were edited instead.
    bool onIndexChanged();

private:
    QComboBox *m_combo;
    StudioSession *m_session;
    QSettings *m_settings;
    // The list's own selection while it is filled is no choice of the presenter's.
    bool m_ready = false;
};

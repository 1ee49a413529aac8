#pragma once

#include "session/AppSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

// A private home for the studio windows of one test process: the settings file and the
// questions database live in a temporary directory (QSettings fixes its folder at first use, so
// the folder is the same for the whole process and each home starts from empty settings), and
// the public server list is asked of a loopback port where nothing listens (or of the test's own
// server), so no test ever reaches outside the machine.
class StudioTestHome
{
public:
    StudioTestHome()
    {
        static QTemporaryDir dir;
        m_path = dir.path();
        qputenv("XDG_CONFIG_HOME", (m_path + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (m_path + "/data").toUtf8());
        std::unique_ptr<QSettings> settings(createAppSettings());
        settings->clear();
        settings->sync();
        setListHost("http://127.0.0.1:9");
    }

    // Writes a value before the window reads it.
    void set(const QString &key, const QVariant &value)
    {
        std::unique_ptr<QSettings> settings(createAppSettings());
        settings->setValue(key, value);
        settings->sync();
    }
    void setListHost(const QString &host) { set("SERVER_LIST_HOST", host); }

    QVariant value(const QString &key) const
    {
        std::unique_ptr<QSettings> settings(createAppSettings());
        return settings->value(key);
    }
    QString path() const { return m_path; }
    QString settingsFile() const { return m_path + "/config/Quillfen/LumacastPRO.ini"; }

private:
    QString m_path;
};

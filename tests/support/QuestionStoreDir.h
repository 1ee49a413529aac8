#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

// Points the application-local data location (where the questions store keeps its file) into a
// fresh temporary directory for as long as it exists.
class QuestionStoreDir
{
public:
    QuestionStoreDir()
    {
        QCoreApplication::setOrganizationName("Quillfen");
        QCoreApplication::setApplicationName("LumacastPRO");
        m_previous = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dir.path().toUtf8());
    }
    ~QuestionStoreDir() { qputenv("XDG_DATA_HOME", m_previous); }
    QuestionStoreDir(const QuestionStoreDir &) = delete;
    QuestionStoreDir &operator=(const QuestionStoreDir &) = delete;

    QString root() const { return m_dir.path(); }

    // Puts a file where the organisation's data directory belongs, so that the store can
    // create neither the directory nor the database.
    bool blockDataDir() const
    {
        QFile blocker(m_dir.path() + "/" + QCoreApplication::organizationName());
        return blocker.open(QIODevice::WriteOnly);
    }
    QString dataDir() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
};

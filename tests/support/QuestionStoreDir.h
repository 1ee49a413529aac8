#pragma once

#include <QCoreApplication>
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
    QString dataDir() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
};

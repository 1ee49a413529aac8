#include "quiz/QuizFolder.h"

#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace QuizFolder {

namespace {

QDir documents()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

} // namespace

QString defaultPath()
{
    return documents().filePath(kFolderName);
}

QString resolve(const QSettings &settings)
{
    const QString configured = settings.value(kSettingsKey).toString().trimmed();
    if (configured.isEmpty())
        return defaultPath();
    // A relative setting must not depend on the working directory either.
    return QDir::cleanPath(documents().absoluteFilePath(configured));
}

bool ensureExists(const QString &path)
{
    if (QDir().mkpath(path))
        return true;
    qWarning().noquote() << "QUIZ: cannot create the quiz folder" << path;
    return false;
}

} // namespace QuizFolder

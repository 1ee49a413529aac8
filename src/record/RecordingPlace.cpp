#include "record/RecordingPlace.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace RecordingPlace {

bool enabled(const QSettings &settings)
{
    return settings.value("RECORD", false).toBool();
}

QString folder(const QSettings &settings)
{
    const QString chosen = settings.value("RECORD_DIR").toString();
    if (!chosen.isEmpty())
        return chosen;
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QFileInfo(videos).isDir())
        return videos;
    return QDir::homePath();
}

QString stem(const QString &folder, const QDateTime &start)
{
    const QString base =
        QDir(folder).filePath(QStringLiteral("Lumacast ") + start.toString("yyyy-MM-dd HH-mm-ss"));
    const auto taken = [](const QString &candidate) {
        for (const char *extension : {".ts", ".mkv", ".mp4"})
            if (QFileInfo::exists(candidate + extension))
                return true;
        return false;
    };
    QString candidate = base;
    for (int n = 2; taken(candidate); ++n)
        candidate = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return candidate;
}

} // namespace RecordingPlace

#include "web/WebDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace WebDirectory {

QString locate()
{
    return locate(QCoreApplication::applicationDirPath(),
                  QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

QString locate(const QString &applicationDir, const QString &programName)
{
    const QString beside = applicationDir + "//WEB";
    if (QFileInfo(beside).isDir())
        return beside;
    const QString installed = QDir::cleanPath(applicationDir + "/../share/" + programName + "/WEB");
    return QFileInfo(installed).isDir() ? installed : beside;
}

} // namespace WebDirectory

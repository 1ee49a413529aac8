#include "quiz/QuizSave.h"

#include "quiz/QuizFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace QuizSave {

namespace {

QString inFolder(const QString &folder, const QString &fileName)
{
    return QDir::cleanPath(QDir(folder).absoluteFilePath(fileName));
}

// The file keeps its place and name when it cannot be moved, so the quiz stays findable.
QString moveIntoFolder(const QString &path, const QString &folder, const QString &fileName)
{
    const QString destination = inFolder(folder, fileName);
    if (QDir::cleanPath(QFileInfo(path).absoluteFilePath()) == destination)
        return fileName;
    QFile file(path);
    if (file.rename(destination))
        return fileName;
    qWarning().noquote() << "QUIZ: cannot rename" << path << "to" << destination
                         << file.errorString();
    return QFileInfo(path).fileName();
}

} // namespace

Result save(const Request &request)
{
    Result result;
    const QString newFileName = request.title + QuizFile::timeSuffix(request.time) + ".json";
    const QString currentFileName = request.editing ? request.name + ".json" : newFileName;
    const QString existing = QuizFile::findQuizFile(request.folder, currentFileName);
    QString target;
    if (existing.isNull()) {
        target = inFolder(request.folder, currentFileName);
    } else {
        const QFileInfo existingInfo(existing);
        // Saving twice within one second gives the file its own name again: no clash.
        const bool takenByAnother =
            existingInfo.fileName() != newFileName &&
            QuizFile::fileExistsIn(existingInfo.absolutePath(), newFileName);
        if (!request.editing || takenByAnother) {
            result.outcome = Outcome::NameExists;
            return result;
        }
        target = existing;
    }

    if (!QuizFile::write(target, QuizFile::document(request.title, request.questions),
                         &result.errorText)) {
        result.outcome = Outcome::WriteFailed;
        return result;
    }
    const QString savedFileName =
        request.editing ? moveIntoFolder(target, request.folder, newFileName) : newFileName;
    result.outcome = Outcome::Saved;
    result.name = QuizFile::quizName(savedFileName);
    return result;
}

} // namespace QuizSave

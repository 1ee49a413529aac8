#include "quiz/QuizFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace QuizFile {

Question Question::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    Question question;
    question.title = object.value("title").toString();
    const QJsonArray options = object.value("options").toArray();
    for (int k = 0; k < kOptionCount; ++k)
        question.options.append(options.at(k).toString());
    return question;
}

QJsonObject Question::toJson() const
{
    QJsonArray trimmed;
    for (int k = 0; k < kOptionCount; ++k)
        trimmed.append(options.value(k).trimmed());
    return QJsonObject{{"title", title.trimmed()}, {"options", trimmed}};
}

bool isQuizFile(const QFileInfo &info)
{
    return info.isFile() && info.suffix().compare("json", Qt::CaseInsensitive) == 0;
}

QString quizName(const QString &fileName)
{
    const int dot = fileName.lastIndexOf('.');
    return dot < 0 ? fileName : fileName.left(dot);
}

QuizInfo read(const QString &path)
{
    QuizInfo quiz;
    quiz.name = quizName(QFileInfo(path).fileName());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return quiz;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    quiz.title = root.value("title").toString();
    quiz.questions = root.value("questions").toArray();
    return quiz;
}

QByteArray document(const QString &title, const QJsonArray &questions)
{
    const QJsonObject root{{"title", title}, {"questions", questions}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool write(const QString &path, const QByteArray &content, QString *errorText)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        *errorText = path + ": " + file.errorString();
        return false;
    }
    return true;
}

QString timeSuffix(const QTime &time)
{
    return "-" + time.toString("hh-mm-ss");
}

bool walkQuizFiles(const QString &folder, const std::function<bool(const QFileInfo &)> &visit)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isQuizFile(entry) && !visit(entry))
            return false;
        // A linked folder may point back up the tree; following it would never end.
        if (entry.isDir() && !entry.isSymLink() && !walkQuizFiles(entry.filePath(), visit))
            return false;
    }
    return true;
}

QString findQuizFile(const QString &folder, const QString &fileName)
{
    QString found;
    walkQuizFiles(folder, [&](const QFileInfo &file) {
        if (file.fileName().compare(fileName, Qt::CaseInsensitive) != 0)
            return true;
        found = file.filePath();
        return false;
    });
    return found;
}

bool fileExistsIn(const QString &folder, const QString &fileName)
{
    const QFileInfo info(QDir(folder).filePath(fileName));
    return info.isFile() && !info.isSymLink();
}

} // namespace QuizFile

#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTime>

// A quiz folder of real files in a temporary directory, and a clock the test sets.
class QuizFixture
{
public:
    QString folder() const { return m_dir.path() + "/quizzes"; }
    QString outside() const { return m_dir.path(); }
    QString path(const QString &relative) const { return folder() + "/" + relative; }

    // Writes `content` to `relative` inside the folder, creating sub-folders.
    bool write(const QString &relative, const QByteArray &content) const
    {
        return writeAt(path(relative), content);
    }
    static bool writeAt(const QString &file, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(content) == content.size();
    }
    // A quiz file with the given title and questions of (title, options...).
    bool writeQuiz(const QString &relative, const QString &title,
                   const QList<QStringList> &questions = {}) const
    {
        return write(relative, json(title, questions));
    }
    static QByteArray json(const QString &title, const QList<QStringList> &questions = {})
    {
        QJsonArray array;
        for (const QStringList &question : questions)
            array.append(QJsonObject{{"title", question.value(0)},
                                     {"options", QJsonArray::fromStringList(question.mid(1))}});
        return QJsonDocument(QJsonObject{{"title", title}, {"questions", array}}).toJson();
    }

    static QByteArray read(const QString &file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    static QJsonObject readJson(const QString &file)
    {
        return QJsonDocument::fromJson(read(file)).object();
    }
    // The file names directly in the folder, sorted.
    QStringList files() const { return QDir(folder()).entryList(QDir::Files, QDir::Name); }

    QTime now = QTime(12, 0, 0);
    auto clock()
    {
        return [this] {
            return now;
        };
    }

private:
    QTemporaryDir m_dir;
};

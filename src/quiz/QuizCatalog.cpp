#include "quiz/QuizCatalog.h"

#include "quiz/QuizFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

QuizCatalog::QuizCatalog(QString folder) : m_folder(std::move(folder)) {}

void QuizCatalog::load()
{
    QuizFile::walkQuizFiles(m_folder, [this](const QFileInfo &file) {
        m_quizzes.append(QuizFile::read(file.filePath()));
        return true;
    });
}

void QuizCatalog::append(QuizInfo quiz)
{
    m_quizzes.append(std::move(quiz));
}

void QuizCatalog::replace(int position, QuizInfo quiz)
{
    m_quizzes[position] = std::move(quiz);
}

void QuizCatalog::prune()
{
    const auto gone = [this](const QuizInfo &quiz) {
        return QuizFile::findQuizFile(m_folder, quiz.name + ".json").isNull();
    };
    m_quizzes.erase(std::remove_if(m_quizzes.begin(), m_quizzes.end(), gone), m_quizzes.end());
}

void QuizCatalog::sortByTitle()
{
    std::stable_sort(m_quizzes.begin(), m_quizzes.end(),
                     [](const QuizInfo &a, const QuizInfo &b) { return a.title < b.title; });
}

QString QuizCatalog::filePath(int position) const
{
    return QuizFile::findQuizFile(m_folder, m_quizzes.at(position).name + ".json");
}

QuizCatalog::DeleteResult QuizCatalog::remove(int position)
{
    const QString path = filePath(position);
    if (path.isNull())
        return DeleteResult::NotFound;
    QFile file(path);
    if (!file.remove()) {
        qWarning().noquote() << "QUIZ: cannot delete" << path << file.errorString();
        return DeleteResult::Failed;
    }
    m_quizzes.removeAt(position);
    return DeleteResult::Deleted;
}

QuizCatalog::ImportResult QuizCatalog::importFile(const QString &source, const QTime &time)
{
    const int dot = source.lastIndexOf('.');
    if (dot < 0 || source.mid(dot) != ".json")
        return ImportResult::NotJson;
    const QString baseName = QuizFile::quizName(source.mid(source.lastIndexOf('/') + 1));
    const QString fileName = baseName + QuizFile::timeSuffix(time) + ".json";
    if (QuizFile::fileExistsIn(m_folder, fileName))
        return ImportResult::NameExists;
    const QString target = QDir(m_folder).absolutePath() + "/" + fileName;
    QFile file(source);
    if (!file.copy(target)) {
        qWarning().noquote() << "QUIZ: cannot copy" << source << "to" << target
                             << file.errorString();
        return ImportResult::CopyFailed;
    }
    m_quizzes.append(QuizFile::read(target));
    return ImportResult::Imported;
}

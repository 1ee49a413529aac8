#pragma once

#include "quiz/QuizInfo.h"

#include <QList>
#include <QString>
#include <QTime>

// The quizzes the quiz window lists, in display order, and the file operations on them: loading
// the folder, pruning quizzes whose file went away, importing and deleting. The list is read
// from disk once; afterwards it changes only through these calls. GUI thread only.
class QuizCatalog
{
public:
    enum class ImportResult { Imported, NotJson, NameExists, CopyFailed };
    enum class DeleteResult { Deleted, NotFound, Failed };

    explicit QuizCatalog(QString folder);

    const QString &folder() const { return m_folder; }
    const QList<QuizInfo> &quizzes() const { return m_quizzes; }
    int size() const { return m_quizzes.size(); }
    const QuizInfo &at(int position) const { return m_quizzes.at(position); }

    // Appends every quiz file under the folder, walking entries in name order and each
    // sub-folder at its place in that order. Unreadable files are listed with an empty title.
    void load();
    void append(QuizInfo quiz);
    void replace(int position, QuizInfo quiz);
    // Drops every quiz whose file the folder (or a sub-folder) no longer holds.
    void prune();
    // Orders by title, case-sensitively by character code; equal titles keep their order.
    void sortByTitle();

    // The quiz file of the quiz at `position`; a null string when it is gone.
    QString filePath(int position) const;
    // Deletes the quiz's file and drops it from the list; a file that cannot be deleted stays
    // listed (Failed), a missing file leaves the list as it is (NotFound).
    DeleteResult remove(int position);
    // Copies the JSON file `source` into the folder as its base name + "-hh-mm-ss.json" of
    // `time` and appends it. Refused when the part of `source` from its last "." is not
    // exactly ".json", or when that name is taken.
    ImportResult importFile(const QString &source, const QTime &time);

private:
    QString m_folder;
    QList<QuizInfo> m_quizzes;
};

#pragma once

#include <QJsonArray>
#include <QString>
#include <QTime>

// Saving a quiz from the editor. A quiz is named after its title and the time of the save, so
// every save of a quiz that already has a file writes that file and then moves it into the quiz
// folder under the current title and time.
namespace QuizSave {

struct Request
{
    QString folder;
    // Whether the quiz already has a file, named `name` + ".json" somewhere under the folder.
    bool editing = false;
    QString name;
    // Already trimmed, not empty.
    QString title;
    QJsonArray questions;
    QTime time;
};

enum class Outcome {
    Saved,
    // Another quiz file already has the name this save would give; nothing was written.
    NameExists,
    // The file could not be written; an earlier version of it is left as it was.
    WriteFailed,
};

struct Result
{
    Outcome outcome = Outcome::WriteFailed;
    // After Saved: the quiz name the file now has.
    QString name;
    // After WriteFailed: the file and the reason.
    QString errorText;
};

Result save(const Request &request);

} // namespace QuizSave

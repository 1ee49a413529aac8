#pragma once

#include "quiz/QuizInfo.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>

class QFileInfo;

// The quiz file format and the names quiz files get. A quiz file is UTF-8 JSON: a root object
// with "title" (string) and "questions" (array of {"title": string, "options": [4 strings]}),
// written indented; option 0 is the right answer.
namespace QuizFile {

// Where the local time of day comes from when a file is named; tests inject a fixed time.
using TimeOfDaySource = std::function<QTime()>;

constexpr int kOptionCount = 4;

// A question as the editor shows it: missing values read as empty text, options beyond the
// fourth are dropped and missing ones are empty.
struct Question
{
    QString title;
    QStringList options; // always kOptionCount entries

    static Question fromJson(const QJsonValue &value);
    // Title and options trimmed.
    QJsonObject toJson() const;
};

// Files whose suffix is "json" in any letter case are quiz files.
bool isQuizFile(const QFileInfo &info);

// The file name up to its last "." (the whole name when it has none).
QString quizName(const QString &fileName);

// Reads a quiz leniently: an unreadable file, invalid JSON or a root that is not an object gives
// an empty title and no questions; `name` comes from the file name.
QuizInfo read(const QString &path);

// The file content: the indented layout of Qt's JSON writer, members in ascending key order.
QByteArray document(const QString &title, const QJsonArray &questions);

// Replaces the file at `path` with `content` as a whole: a failed write leaves any earlier file
// as it was. On failure returns false and sets errorText to the reason.
bool write(const QString &path, const QByteArray &content, QString *errorText);

// "-hh-mm-ss" of the time of day, 24-hour clock: the part that makes quiz names unique.
QString timeSuffix(const QTime &time);

// Calls `visit` for every quiz file in `folder` and its sub-folders, entries in name order and
// each sub-folder at its place in that order (linked folders are not entered). Stops as soon as
// `visit` returns false; returns false when it stopped early.
bool walkQuizFiles(const QString &folder, const std::function<bool(const QFileInfo &)> &visit);

// The path of the quiz file named `fileName` (ignoring case) in `folder` or any sub-folder,
// entries walked in name order, depth first; a null string when there is none.
QString findQuizFile(const QString &folder, const QString &fileName);

// Whether a plain file (not a link) of exactly `fileName` lies directly in `folder`.
bool fileExistsIn(const QString &folder, const QString &fileName);

} // namespace QuizFile

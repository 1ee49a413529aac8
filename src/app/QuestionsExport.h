#pragma once

#include "web/QuestionRecord.h"

#include <QString>

#include <functional>

class DBStorage;
class QMenu;
class QPushButton;
class QWidget;

// The questions menu of the main window: the live JSON view, the HTML table export and clearing
// the store. GUI thread only; the store is read and cleared synchronously.
namespace QuestionsExport {

// The menu "questionsMenu" that `button` opens: the JSON view of the questions at what
// `baseUrl` returns then, the export (`saved` is told the file written) and clearing. Message
// boxes are centred on `parent`.
QMenu *menu(QPushButton *button, QWidget *parent, DBStorage *storage,
            std::function<QString()> baseUrl, std::function<void(const QString &)> saved);

// Opens the system browser at baseUrl + "/feedback_list.json".
void openJsonView(const QString &baseUrl);

// Asks for a file name (proposing "table" on the desktop) and saves the questions there.
// Returns the name of the file written; empty when cancelled or failed (a failure was reported).
QString exportToFile(QWidget *parent, DBStorage *storage);

// Saves the questions as an HTML table under fileName (".html" appended unless it already ends
// so); a failed write is reported in a warning box. Returns whether the file was written.
bool saveToFile(QWidget *parent, DBStorage *storage, const QString &fileName);

// Asks "Are you sure?" and on Yes deletes every question; a failed delete is reported.
void clearQuestions(QWidget *parent, DBStorage *storage);

// "/table" in the desktop directory; without one, in the documents folder; without that, in
// the home folder (never the working directory, where the presenter would not look).
QString proposedFileName();

// fileName unless the part from its last "." is exactly ".html", else fileName + ".html".
QString withHtmlSuffix(const QString &fileName);

// The HTML document: a header row, then one row per question with name and question escaped.
QString buildHtml(const QuestionRecords &records);

// Writes the document as UTF-8, truncating an existing file; on failure returns false and sets
// errorText to the reason.
bool writeHtml(const QString &fileName, const QString &html, QString *errorText);

} // namespace QuestionsExport

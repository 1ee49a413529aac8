#pragma once

#include <QString>

class QSettings;

// Where quiz files live: the settings key "QUIZ_DIR" when it is set, otherwise a folder of ours
// inside the user's documents folder. Never relative to the working directory, which is "/" for
// a studio started from a desktop menu.
namespace QuizFolder {

constexpr const char *kSettingsKey = "QUIZ_DIR";
constexpr const char *kFolderName = "Lumacast PRO Quizzes";

// The documents folder followed by kFolderName.
QString defaultPath();

// The folder named by kSettingsKey (a relative one taken inside the documents folder), or
// defaultPath() when the key is missing or empty.
QString resolve(const QSettings &settings);

// Creates the folder with any missing parents; false (and a log line) when that fails.
bool ensureExists(const QString &path);

} // namespace QuizFolder

#pragma once

#include <QDateTime>
#include <QString>

class QSettings;

// Where a recording goes: the folder "RECORD_DIR" names, else the XDG videos folder, else home;
// the file is named by the local date and time of Start, so recordings sort by date and never
// overwrite each other.
namespace RecordingPlace {

bool enabled(const QSettings &settings); // "RECORD", false unless set
QString folder(const QSettings &settings);
// "<folder>/Lumacast YYYY-MM-DD HH-MM-SS" without extension; " (2)" and so on when a file of
// that stem already exists with any of the recording's extensions.
QString stem(const QString &folder, const QDateTime &start);

} // namespace RecordingPlace

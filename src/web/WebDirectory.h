#pragma once

#include <QString>

// Where the program finds the viewer pages it serves. In a build they sit in "WEB" beside the
// executable. An installed program keeps them with its other architecture-independent files,
// in <prefix>/share/<program name>/WEB, and its executable in <prefix>/bin.
namespace WebDirectory {

// The first of the two that exists, for the running executable; the one beside the executable
// when neither does, so the web server's "not found" names the expected place.
QString locate();

// The same for an executable at `applicationDir` named `programName`.
QString locate(const QString &applicationDir, const QString &programName);

} // namespace WebDirectory

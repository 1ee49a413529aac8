#pragma once

#include <QString>

// How the quiz window lays out its tiles: as many columns as whole tiles fit across the window,
// filled row by row.
namespace QuizGrid {

struct Shape
{
    int rows = 0;
    int columns = 0;
    // A window narrower than one tile shows none.
    bool showsTiles() const { return rows > 0 && columns > 0; }
};

// columns = windowWidth / tileWidth; rows = count / columns rounded up, or 1 with no columns.
Shape shape(int windowWidth, int tileWidth, int count);

// The text a quiz's tile shows: the quiz name without its three "-hh-mm-ss" parts, each cut at
// the last "-" (a cut with no "-" left changes nothing): "Physics-14-05-09" shows "Physics".
QString tileLabel(const QString &quizName);

} // namespace QuizGrid

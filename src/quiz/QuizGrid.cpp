#include "quiz/QuizGrid.h"

namespace QuizGrid {

Shape shape(int windowWidth, int tileWidth, int count)
{
    Shape grid;
    grid.columns = tileWidth > 0 ? windowWidth / tileWidth : 0;
    grid.rows = grid.columns > 0 ? (count + grid.columns - 1) / grid.columns : 1;
    return grid;
}

QString tileLabel(const QString &quizName)
{
    constexpr int kTimeParts = 3;
    QString label = quizName;
    for (int cut = 0; cut < kTimeParts; ++cut) {
        const int dash = label.lastIndexOf('-');
        if (dash >= 0)
            label.truncate(dash);
    }
    return label;
}

} // namespace QuizGrid

#pragma once

#include "quiz/QuizPlay.h"

#include <QByteArray>
#include <QString>
#include <functional>

// What the room's screen shows of the quiz being played ("/quiz_result.json", read by the HTTP
// routes at each request): the open or last question, how many answered each option, the right
// option once the question ended, the time left and the leaderboard. It reads a snapshot from
// whoever owns the quiz being played; it knows no player. GUI thread.
class QuizBoard
{
public:
    // The quiz as it stands at one request; `play` belongs to the player.
    struct Snapshot
    {
        QString title;
        const QuizPlay *play = nullptr;
        qint64 timeLeftMs = 0;
    };
    using Source = std::function<Snapshot()>;

    // Reads `source` at each request; a snapshot without a play, or no source, shows no quiz.
    explicit QuizBoard(Source source = {});

    // {"quiz": false} without a quiz; else {"quiz": true, "title", "number", "count",
    // "question", "options", "counts", "answered", "right" (0 while open), "time_left_ms",
    // "final", "leaders": [{"nickname", "score"}]}.
    QByteArray json() const;

private:
    Source m_source;
};

#pragma once

#include <QByteArray>

class QuizSession;

// What the room's screen shows of the quiz being played ("/quiz_result.json", read by the HTTP
// routes at each request): the open or last question, how many answered each option, the right
// option once the question ended, the time left and the leaderboard. The quiz session that
// plays registers itself and leaves when it ends. GUI thread.
class QuizBoard
{
public:
    // The session whose state is shown from now on; null shows no quiz.
    void show(const QuizSession *session) { m_session = session; }
    // Shows no quiz if `session` is the one shown.
    void forget(const QuizSession *session);

    // {"quiz": false} without a quiz; else {"quiz": true, "title", "number", "count",
    // "question", "options", "counts", "answered", "right" (0 while open), "time_left_ms",
    // "final", "leaders": [{"nickname", "score"}]}.
    QByteArray json() const;

private:
    const QuizSession *m_session = nullptr;
};

#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// Where a question stands with the presenter. The values are stored in the database file and
// must never change.
enum class QuestionState : int {
    Waiting = 0,  // asked while approval was required; no viewer sees it yet
    Shown = 1,    // on every page
    Answered = 2, // on every page, folded away
    Hidden = 3,   // on no page
};

// One stored question as the store lists it.
struct QuestionRecord
{
    qint64 id = 0;
    QString name;
    QString question;
    QuestionState state = QuestionState::Shown;
    bool highlighted = false;
    int upvotes = 0;
    QString tag; // the asking page's public tag, so that it can mark its own questions

    bool visibleToViewers() const
    {
        return state == QuestionState::Shown || state == QuestionState::Answered;
    }
};

// The state's name on the wire, in the export and in the presenter's window.
inline QString questionStateName(QuestionState state)
{
    switch (state) {
    case QuestionState::Waiting:
        return QStringLiteral("waiting");
    case QuestionState::Shown:
        return QStringLiteral("shown");
    case QuestionState::Answered:
        return QStringLiteral("answered");
    case QuestionState::Hidden:
        break;
    }
    return QStringLiteral("hidden");
}

using QuestionRecords = QVector<QuestionRecord>;

Q_DECLARE_METATYPE(QuestionRecords)

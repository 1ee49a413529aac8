#pragma once

#include "audience/VoteState.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The way to the room's viewers, whichever relay carries the session: the local relay serves
// them itself, the cloud relay client passes everything to the server. The vote, the random
// winner game and a quiz played live send through it and hear the viewers' answers from it, so
// none of them knows which relay runs. GUI thread only.
class AudienceLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Which link reaches the viewers now: it changes with the session's mode, so an audience
    // activity asks each time it sends.
    using Source = std::function<AudienceLink *()>;

    // Entry 0: viewers the running (or last) vote was sent to; entry k: votes for option k.
    virtual VoteState::Tally voteResults() const = 0;

public slots:
    // A new vote to every command viewer; the tally starts from zero.
    virtual void onVoteStart(QString title, QStringList opts) = 0;
    virtual void onVoteStop() = 0;
    // One progress step of the random winner game, then its end: one viewer gets the winner's
    // text and the check code, every other viewer the loser's text.
    virtual void onRandomGameTick(QString clr, int proc) = 0;
    virtual void onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code) = 0;
    // A command message built elsewhere (a quiz, the question list) to every command viewer.
    virtual void sendCommand(QString message) = 0;

signals:
    // A command viewer's message other than a vote answer, with what tells that viewer apart:
    // its address locally, the server's key for it (never the address) in the cloud.
    void viewerCommand(QString viewer, QJsonObject message);
};

#pragma once

#include "audience/AudienceLink.h"

// An audience link with no viewers behind it: it keeps what it was sent and answers the tally
// a test sets.
class FakeAudienceLink : public AudienceLink
{
public:
    VoteState::Tally tally = VoteState::Tally(VoteState::kTallySize, 0);
    int voteStarts = 0;
    int voteStops = 0;
    int gameTicks = 0;
    int gameFinishes = 0;
    QStringList commands;

    VoteState::Tally voteResults() const override { return tally; }
    void onVoteStart(QString, QStringList) override { ++voteStarts; }
    void onVoteStop() override { ++voteStops; }
    void onRandomGameTick(QString, int) override { ++gameTicks; }
    void onRandomGameFinish(QString, QString, QString) override { ++gameFinishes; }
    void sendCommand(QString message) override { commands << message; }
};

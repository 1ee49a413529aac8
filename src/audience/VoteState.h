#pragma once

#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>

// The vote the presenter runs: its options, whether it runs, and the tally last read from the
// relay of the current session (the local relay server or the cloud relay client). The voting
// window drives and shows it; the HTTP routes read it. GUI thread only.
class VoteState : public QObject
{
    Q_OBJECT
public:
    // Entry 0: viewers the vote was sent to; entry k: votes for option k (1..9).
    static constexpr int kTallySize = 10;
    using Tally = QVector<qint32>;
    using TallySource = std::function<Tally()>;

    VoteState();

    // Records the options (five entries, as the presenter typed them) and marks the vote running.
    // The tally reads zeros until the next refresh.
    void start(const QStringList &options);
    // Takes a last reading of the running vote's tally, then marks it stopped.
    void stop();
    bool isRunning() const { return m_running; }

    // The options of the running (or last) vote; empty before the first vote.
    const QStringList &options() const { return m_options; }
    // Always kTallySize entries.
    const Tally &tally() const { return m_tally; }

    // Where refresh() reads the tally: the relay whose session runs. Null reads nothing.
    void setTallySource(TallySource source);
    // Reads the source once; a tally of another size is cut or padded with zeros to kTallySize.
    void refresh();
    // The same fitting, for tallies that arrive over the network.
    static Tally fitted(Tally tally);
    // A relay's tally: `recipients` in entry 0, and one count per chosen option 1..9; other
    // choices are not counted.
    template <typename Choices> static Tally counted(const Choices &choices, qint32 recipients)
    {
        Tally tally(kTallySize, 0);
        for (const qint32 option : choices)
            if (option >= 1 && option < kTallySize)
                ++tally[option];
        tally[0] = recipients;
        return tally;
    }

private:
    QStringList m_options;
    Tally m_tally;
    TallySource m_source;
    bool m_running = false;
};

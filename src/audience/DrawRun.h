#pragma once

#include "audience/AudienceLink.h"
#include "audience/RandomGameRound.h"

#include <QObject>
#include <QTimer>

// A random winner game while it runs: a progress tick to the viewers every 400 ms for 10 s,
// then the finish, which hands the relay the two texts and a fresh check code for the one
// winner. A round cannot be cancelled. The game window drives and shows it. GUI thread only.
class DrawRun : public QObject
{
    Q_OBJECT
public:
    explicit DrawRun(AudienceLink::Source link, QObject *parent = nullptr);

    // Starts a round with these texts; nothing while one runs.
    void start(const QString &winText, const QString &loseText);
    // The texts the finish carries: the presenter may still change them during the round.
    void setTexts(const QString &winText, const QString &loseText);
    bool isRunning() const { return m_round.isRunning(); }
    // The colour table of the current (or last) round; empty before the first.
    const QVector<QColor> &colours() const { return m_round.colours(); }

public slots:
    // One step of the clock.
    void tick();

signals:
    void progressed(QString clr, int proc);
    void finished(QString lose_txt, QString win_txt, QString win_code);

private:
    AudienceLink::Source m_link;
    QTimer m_timer;
    RandomGameRound m_round;
    QString m_winText;
    QString m_loseText;
};

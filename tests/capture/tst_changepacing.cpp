// When a change-driven screen source takes its pictures, on a clock the test moves by hand.
#include "capture/media/ChangePacing.h"

#include <QtTest>

using namespace std::chrono_literals;
using Action = ChangePacing::Action;

namespace {
const ChangePacing::Time start = ChangePacing::Time() + 100s;
const auto period = std::chrono::duration_cast<ChangePacing::Clock::duration>(
    std::chrono::duration<double>(1.0 / 24));

const int refinements = ChangePacing::Settings().refinements;
const auto settle = ChangePacing::Settings().settle;
// When the last refinement of the first picture, taken at `at`, is due.
ChangePacing::Time refinedAt(ChangePacing::Time at)
{
    return at + settle + (refinements - 1) * period;
}

ChangePacing settledAt(ChangePacing::Time at)
{
    ChangePacing pacing;
    pacing.setRate(24);
    bool ok = pacing.take(at) == Action::Picture;
    for (int i = 0; i < refinements; ++i)
        ok = pacing.take(at + settle + i * period) == Action::SettledPicture && ok;
    if (!ok || pacing.due() != ChangePacing::Time::max())
        qFatal("pacing does not start with a picture and its refinements");
    return pacing;
}
} // namespace

class TestChangePacing : public QObject
{
    Q_OBJECT

private slots:
    void firstPictureAtOnceThenRefinedThenNothing()
    {
        ChangePacing pacing;
        pacing.setRate(24);
        QCOMPARE(pacing.take(start), Action::Picture);
        QCOMPARE(pacing.take(start + settle - 1ms), Action::None);
        QCOMPARE(pacing.due(), start + settle);
        QVERIFY(refinements > 1);
        for (int i = 0; i < refinements; ++i) {
            QCOMPARE(pacing.due(), start + settle + i * period);
            QCOMPARE(pacing.take(start + settle + i * period), Action::SettledPicture);
        }
        QCOMPARE(pacing.due(), ChangePacing::Time::max());
        QCOMPARE(pacing.take(start + 1h), Action::None);
    }

    void smallChangeSettlesOnce()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time change = refinedAt(start) + 2s;
        pacing.changed(change);
        QCOMPARE(pacing.take(change + 4ms), Action::Picture);
        QCOMPARE(pacing.take(change + 4ms + settle), Action::SettledPicture);
        QCOMPARE(pacing.due(), ChangePacing::Time::max());
    }

    void largeChangeAmongSmallOnesIsRefined()
    {
        ChangePacing pacing = settledAt(start);
        ChangePacing::Time t = refinedAt(start) + 2s;
        pacing.changed(t, true);
        QCOMPARE(pacing.take(t + 4ms), Action::Picture);
        // The last picture of the motion is a small change: what the large one left stays coarse.
        t += period;
        pacing.changed(t);
        QCOMPARE(pacing.take(t + 4ms), Action::Picture);
        for (int i = 0; i < refinements; ++i)
            QCOMPARE(pacing.take(t + 4ms + settle + i * period), Action::SettledPicture);
        QCOMPARE(pacing.due(), ChangePacing::Time::max());
    }

    void changeCutsTheRefinementsShort()
    {
        ChangePacing pacing;
        pacing.setRate(24);
        QCOMPARE(pacing.take(start), Action::Picture);
        QCOMPARE(pacing.take(start + settle), Action::SettledPicture);
        const ChangePacing::Time change = start + settle + 10ms;
        pacing.changed(change);
        QCOMPARE(pacing.take(start + settle + period), Action::Picture);
        // A small change after the cut: the large one's refinements start anew after it.
        for (int i = 0; i < refinements; ++i)
            QCOMPARE(pacing.take(start + 2 * settle + (i + 1) * period), Action::SettledPicture);
        QCOMPARE(pacing.due(), ChangePacing::Time::max());
    }

    void changeWaitsTheCoalescingPause()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time change = refinedAt(start) + 2s;
        pacing.changed(change);
        pacing.changed(change + 1ms); // part of the same update
        QCOMPARE(pacing.due(), change + 4ms);
        QCOMPARE(pacing.take(change + 3ms), Action::None);
        QCOMPARE(pacing.take(change + 4ms), Action::Picture);
        QCOMPARE(pacing.take(change + 5ms), Action::None);
    }

    void picturesNeverCloserThanOnePeriod()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time first = refinedAt(start) + 2s;
        pacing.changed(first);
        QCOMPARE(pacing.take(first + 4ms), Action::Picture);
        pacing.changed(first + 5ms);
        QCOMPARE(pacing.due(), first + 4ms + period);
        QCOMPARE(pacing.take(first + 4ms + period - 1ms), Action::None);
        QCOMPARE(pacing.take(first + 4ms + period), Action::Picture);
    }

    void latePicturesKeepTheRate()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time first = refinedAt(start) + 2s;
        pacing.changed(first);
        QCOMPARE(pacing.take(first + 4ms), Action::Picture);
        // Each change is reported 10 or 30 ms after its slot: the pictures stay one a period.
        for (int i = 1; i <= 24; ++i) {
            const ChangePacing::Time reported = first + 4ms + i * period + (i % 2 ? 30ms : 10ms);
            pacing.changed(reported);
            QCOMPARE(pacing.take(reported + 3ms), Action::None);
            QCOMPARE(pacing.take(reported + 4ms), Action::Picture);
        }
        // A picture later than a whole period starts the grid anew.
        const ChangePacing::Time late = first + 4ms + 28 * period;
        pacing.changed(late);
        QCOMPARE(pacing.take(late + 4ms), Action::Picture);
        pacing.changed(late + 5ms);
        QCOMPARE(pacing.due(), late + 4ms + period);
    }

    void motionPutsTheSettledPictureOff()
    {
        ChangePacing pacing = settledAt(start);
        ChangePacing::Time t = refinedAt(start) + 2s;
        for (int i = 0; i < 10; ++i) {
            pacing.changed(t);
            t += period;
            QCOMPARE(pacing.take(t), Action::Picture);
        }
        QCOMPARE(pacing.due(), t + settle);
        QCOMPARE(pacing.take(t + settle), Action::SettledPicture);
    }

    void keepAliveRepeatsAStillPicture()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time last = refinedAt(start);
        QCOMPARE(pacing.take(last + 10s), Action::None);
        pacing.setKeepAlive(2s);
        QCOMPARE(pacing.take(last + 1999ms), Action::None);
        QCOMPARE(pacing.take(last + 2s), Action::KeepAlive);
        QCOMPARE(pacing.due(), last + 4s);
        // A change still comes first, and its settled picture after it.
        pacing.changed(last + 3s);
        QCOMPARE(pacing.take(last + 3s + 4ms), Action::Picture);
        QCOMPARE(pacing.take(last + 3s + 4ms + settle), Action::SettledPicture);
    }
};

QTEST_GUILESS_MAIN(TestChangePacing)
#include "tst_changepacing.moc"

// When a change-driven screen source takes its pictures, on a clock the test moves by hand.
#include "capture/media/ChangePacing.h"

#include <QtTest>

using namespace std::chrono_literals;
using Action = ChangePacing::Action;

namespace {
const ChangePacing::Time start = ChangePacing::Time() + 100s;
const auto period = std::chrono::duration_cast<ChangePacing::Clock::duration>(
    std::chrono::duration<double>(1.0 / 24));

ChangePacing settledAt(ChangePacing::Time at)
{
    ChangePacing pacing;
    pacing.setRate(24);
    if (pacing.take(at) != Action::Picture || pacing.take(at + 500ms) != Action::SettledPicture)
        qFatal("pacing does not start with a picture and its settled repeat");
    return pacing;
}
} // namespace

class TestChangePacing : public QObject
{
    Q_OBJECT

private slots:
    void firstPictureAtOnceThenSettledThenNothing()
    {
        ChangePacing pacing;
        pacing.setRate(24);
        QCOMPARE(pacing.take(start), Action::Picture);
        QCOMPARE(pacing.take(start + 499ms), Action::None);
        QCOMPARE(pacing.due(), start + 500ms);
        QCOMPARE(pacing.take(start + 500ms), Action::SettledPicture);
        QCOMPARE(pacing.due(), ChangePacing::Time::max());
        QCOMPARE(pacing.take(start + 1h), Action::None);
    }

    void changeWaitsTheCoalescingPause()
    {
        ChangePacing pacing = settledAt(start);
        const ChangePacing::Time change = start + 2s;
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
        const ChangePacing::Time first = start + 2s;
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
        const ChangePacing::Time first = start + 2s;
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
        ChangePacing::Time t = start + 2s;
        for (int i = 0; i < 10; ++i) {
            pacing.changed(t);
            t += period;
            QCOMPARE(pacing.take(t), Action::Picture);
        }
        QCOMPARE(pacing.due(), t + 500ms);
        QCOMPARE(pacing.take(t + 500ms), Action::SettledPicture);
    }

    void keepAliveRepeatsAStillPicture()
    {
        ChangePacing pacing = settledAt(start);
        QCOMPARE(pacing.take(start + 10s), Action::None);
        pacing.setKeepAlive(2s);
        QCOMPARE(pacing.take(start + 500ms + 1999ms), Action::None);
        QCOMPARE(pacing.take(start + 500ms + 2s), Action::KeepAlive);
        QCOMPARE(pacing.due(), start + 500ms + 4s);
        // A change still comes first, and its settled picture after it.
        pacing.changed(start + 3s);
        QCOMPARE(pacing.take(start + 3s + 4ms), Action::Picture);
        QCOMPARE(pacing.take(start + 3s + 504ms), Action::SettledPicture);
    }
};

QTEST_GUILESS_MAIN(TestChangePacing)
#include "tst_changepacing.moc"

#include "net/TurnsByAddress.h"

#include <QtTest>

#include <vector>

// The order in which waiting clients are served: in turn by address, whatever one queues.
class TestTurnsByAddress : public QObject
{
    Q_OBJECT
private slots:
    void oneAddressCannotPushAnotherBack();
    void removedItemsAreSkippedAndEmptyAddressesLoseTheirTurn();

private:
    static std::vector<int> drain(TurnsByAddress<int> &turns)
    {
        std::vector<int> order;
        while (const std::optional<int> item = turns.next())
            order.push_back(*item);
        return order;
    }

    const QHostAddress a{"127.0.0.2"}, b{"127.0.0.3"}, c{"127.0.0.4"};
};

void TestTurnsByAddress::oneAddressCannotPushAnotherBack()
{
    TurnsByAddress<int> turns;
    for (int i = 1; i <= 4; ++i)
        turns.push(a, i);
    turns.push(b, 10);
    turns.push(c, 20);
    turns.push(b, 11);
    QCOMPARE(turns.next(), std::optional<int>(1));
    // An address whose queue ran dry and comes back takes the end of the round.
    turns.push(c, 21);
    QCOMPARE(drain(turns), (std::vector<int>{10, 20, 2, 11, 21, 3, 4}));
    QVERIFY(turns.isEmpty());
    QCOMPARE(turns.next(), std::nullopt);
}

void TestTurnsByAddress::removedItemsAreSkippedAndEmptyAddressesLoseTheirTurn()
{
    TurnsByAddress<int> turns;
    turns.push(a, 1);
    turns.push(a, 2);
    turns.push(b, 10);
    turns.push(c, 20);
    turns.remove(a, 1);
    turns.remove(b, 10);
    turns.remove(b, 10); // no longer there: nothing happens
    turns.remove(QHostAddress("127.0.0.9"), 5);
    QCOMPARE(drain(turns), (std::vector<int>{2, 20}));
    turns.push(b, 11);
    QCOMPARE(drain(turns), (std::vector<int>{11}));
}

QTEST_GUILESS_MAIN(TestTurnsByAddress)
#include "tst_turnsbyaddress.moc"

#include "cloud/RoomSubjects.h"

#include <QtTest>

class TestRoomSubjects : public QObject
{
    Q_OBJECT
private slots:
    void token_data();
    void token();
    void distinctRoomsGetDistinctSubjects();
};

void TestRoomSubjects::token_data()
{
    QTest::addColumn<QString>("room");
    QTest::addColumn<QByteArray>("token");
    QTest::newRow("studio room") << "abc-0F9" << QByteArray("abc-0F9");
    QTest::newRow("separator") << "a.b" << QByteArray("a_2Eb");
    QTest::newRow("wildcards") << "*>" << QByteArray("_2A_3E");
    QTest::newRow("white space") << "a b\t" << QByteArray("a_20b_09");
    QTest::newRow("escape itself") << "a_2E" << QByteArray("a_5F2E");
    QTest::newRow("not ASCII") << QString::fromUtf8("ü") << QByteArray("_C3_BC");
    QTest::newRow("empty") << "" << QByteArray("_");
}

void TestRoomSubjects::token()
{
    QFETCH(QString, room);
    QFETCH(QByteArray, token);
    QCOMPARE(RoomSubjects::token(room), token);
    QCOMPARE(RoomSubjects::video(room), "lumacast.room." + token + ".video");
}

void TestRoomSubjects::distinctRoomsGetDistinctSubjects()
{
    const QStringList rooms{"a.b", "a_2Eb", "a", "a.", "a..", "_", ""};
    QSet<QByteArray> subjects;
    for (const QString &room : rooms)
        subjects.insert(RoomSubjects::audience(room));
    QCOMPARE(subjects.size(), rooms.size());
}

QTEST_GUILESS_MAIN(TestRoomSubjects)
#include "tst_roomsubjects.moc"

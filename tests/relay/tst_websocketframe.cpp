#include "relay/WebSocketFrame.h"

#include <QtTest>

class TestWebSocketFrame : public QObject
{
    Q_OBJECT
private slots:
    void lengthEncoding_data();
    void lengthEncoding();
};

void TestWebSocketFrame::lengthEncoding_data()
{
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("empty") << 0 << QByteArray::fromHex("8200");
    QTest::newRow("largest one-byte length") << 125 << QByteArray::fromHex("827d");
    QTest::newRow("smallest 16-bit length") << 126 << QByteArray::fromHex("827e007e");
    QTest::newRow("largest 16-bit length") << 65535 << QByteArray::fromHex("827effff");
    QTest::newRow("64-bit length") << 65536 << QByteArray::fromHex("827f0000000000010000");
}

void TestWebSocketFrame::lengthEncoding()
{
    QFETCH(int, payloadSize);
    QFETCH(QByteArray, header);
    const QByteArray payload(payloadSize, 'p');
    const QByteArray frame = WebSocketFrame::binary(payload);
    QCOMPARE(frame.left(header.size()).toHex(), header.toHex());
    QCOMPARE(frame.mid(header.size()), payload);
}

QTEST_GUILESS_MAIN(TestWebSocketFrame)
#include "tst_websocketframe.moc"

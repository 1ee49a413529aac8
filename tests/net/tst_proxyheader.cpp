#include "net/ProxyHeader.h"
#include "support/ProxyHeaderBytes.h"

#include <QtTest>

namespace {

using ProxyHeaderBytes::header;
using ProxyHeaderBytes::kSignature;

QByteArray tcp4(const QByteArray &tlvs = {})
{
    return ProxyHeaderBytes::proxy(QHostAddress("127.0.0.5"), 40001, tlvs);
}

QByteArray tcp6()
{
    return ProxyHeaderBytes::proxy(QHostAddress("2001:db8::7"), 51000);
}

} // namespace

class TestProxyHeader : public QObject
{
    Q_OBJECT
private slots:
    void complete_data();
    void complete();
    void incompleteWaits_data();
    void incompleteWaits();
    void refused_data();
    void refused();
};

void TestProxyHeader::complete_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("local");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("sourcePort");

    QTest::newRow("TCP over IPv4") << tcp4() << 28 << false << "127.0.0.5" << 40001;
    QTest::newRow("TLVs skipped") << tcp4(QByteArray::fromHex("0400030000000005000141")) << 39
                                  << false << "127.0.0.5" << 40001;
    QTest::newRow("TCP over IPv6") << tcp6() << 52 << false << "2001:db8::7" << 51000;
    QTest::newRow("LOCAL, the balancer's own check")
        << ProxyHeaderBytes::local() << 16 << true << QString() << 0;
    QTest::newRow("LOCAL with addresses")
        << header(0x20, 0x11, QByteArray(12, 'x')) << 28 << true << QString() << 0;
    QTest::newRow("client's bytes follow") << tcp4() + "GET / HTTP/1.1\r\n"
                                           << 28 << false << "127.0.0.5" << 40001;
}

void TestProxyHeader::complete()
{
    QFETCH(QByteArray, bytes);
    const ProxyHeader parsed = ProxyHeader::parse(bytes);
    QCOMPARE(parsed.status, ProxyHeader::Status::Complete);
    QTEST(parsed.length, "length");
    QTEST(parsed.local, "local");
    QTEST(parsed.source.toString(), "source");
    QTEST(int(parsed.sourcePort), "sourcePort");
}

void TestProxyHeader::incompleteWaits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("nothing yet") << QByteArray();
    QTest::newRow("part of the signature") << kSignature.left(5);
    QTest::newRow("signature only") << kSignature;
    QTest::newRow("fixed part, no addresses") << tcp4().left(16);
    QTest::newRow("one address byte short") << tcp6().chopped(1);
}

void TestProxyHeader::incompleteWaits()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(ProxyHeader::parse(bytes).status, ProxyHeader::Status::Incomplete);
}

void TestProxyHeader::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    QByteArray badSignature = tcp4();
    badSignature[7] = 'X';
    QTest::newRow("bad signature") << badSignature << "signature";
    QTest::newRow("an HTTP request") << QByteArray("GET / HTTP/1.1\r\n\r\n") << "signature";
    QTest::newRow("a TLS hello") << QByteArray::fromHex("16030100a5010000a10303") << "signature";
    QTest::newRow("text PROXY header (v1)")
        << QByteArray("PROXY TCP4 1.2.3.4 5.6.7.8 1 2\r\n") << "signature";
    QTest::newRow("version 1 in binary") << header(0x11, 0x11, QByteArray(12, 0)) << "version";
    QTest::newRow("unknown command") << header(0x22, 0x11, QByteArray(12, 0)) << "command";
    QTest::newRow("oversized") << header(0x21, 0x11, QByteArray(ProxyHeader::kMaxBytes, 0))
                               << "more than";
    QTest::newRow("oversized, announced only") << tcp4().left(14) + "\xff\xff"
                                               << "more than";
    QTest::newRow("IPv4 block too short") << header(0x21, 0x11, QByteArray(8, 0)) << "IPv4";
    QTest::newRow("IPv6 block too short") << header(0x21, 0x21, QByteArray(20, 0)) << "IPv6";
    QTest::newRow("UDP") << header(0x21, 0x12, QByteArray(12, 0)) << "not TCP";
    QTest::newRow("UNIX socket") << header(0x21, 0x31, QByteArray(216, 0)) << "not TCP";
}

void TestProxyHeader::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const ProxyHeader parsed = ProxyHeader::parse(bytes);
    QCOMPARE(parsed.status, ProxyHeader::Status::Refused);
    QVERIFY2(parsed.reason.contains(reason), qPrintable(parsed.reason));
}

QTEST_APPLESS_MAIN(TestProxyHeader)
#include "tst_proxyheader.moc"

#include "net/ProxiedListener.h"
#include "support/LogCapture.h"
#include "support/ProxyHeaderBytes.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// A client of the listener from the loopback address `local`.
std::unique_ptr<QTcpSocket> connectFrom(const QString &local, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(QHostAddress(local)))
        return nullptr;
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

} // namespace

// The listener behind a balancer trusted at 127.0.0.1: clients connect from other loopback
// addresses to stand for everyone else.
class TestProxiedListener : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void trustedHeaderNamesTheClient_data();
    void trustedHeaderNamesTheClient();
    void headerFromAnyoneElseIsTheirBytes();
    void trustedConnectionWithoutHeaderIsClosed_data();
    void trustedConnectionWithoutHeaderIsClosed();
    void silentBalancerConnectionIsClosedAfterTheDeadline();
    void balancerAddresses_data();
    void balancerAddresses();

private:
    // The next connection the listener hands out.
    QTcpSocket *accepted();

    std::unique_ptr<ProxiedListener> m_listener;
    std::unique_ptr<LogCapture> m_log;
};

void TestProxiedListener::init()
{
    m_log = std::make_unique<LogCapture>();
    m_listener = std::make_unique<ProxiedListener>();
    TrustedBalancers balancers;
    QString error;
    QVERIFY(balancers.add("127.0.0.1", &error));
    m_listener->trustBalancers(balancers);
    QVERIFY(m_listener->listen(QHostAddress::LocalHost));
}

void TestProxiedListener::cleanup()
{
    m_listener.reset();
    m_log.reset();
}

QTcpSocket *TestProxiedListener::accepted()
{
    // Through the event loop: a header may come after the connection was accepted.
    if (!QTest::qWaitFor([this] { return m_listener->hasPendingConnections(); }, 5000))
        return nullptr;
    return m_listener->nextPendingConnection();
}

void TestProxiedListener::trustedHeaderNamesTheClient_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("client");
    QTest::addColumn<int>("clientPort");
    QTest::addColumn<bool>("inTwoParts");
    QTest::newRow("IPv4") << ProxyHeaderBytes::proxy(QHostAddress("127.0.0.9"), 4321) << "127.0.0.9"
                          << 4321 << false;
    QTest::newRow("IPv6 and TLVs")
        << ProxyHeaderBytes::proxy(QHostAddress("2001:db8::9"), 4322,
                                   QByteArray::fromHex("0400030000000005000141"))
        << "2001:db8::9" << 4322 << false;
    QTest::newRow("arriving in two parts")
        << ProxyHeaderBytes::proxy(QHostAddress("127.0.0.9"), 4323) << "127.0.0.9" << 4323 << true;
    QTest::newRow("LOCAL: the balancer itself")
        << ProxyHeaderBytes::local() << "127.0.0.1" << -1 << false;
}

void TestProxiedListener::trustedHeaderNamesTheClient()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, client);
    QFETCH(int, clientPort);
    QFETCH(bool, inTwoParts);
    const auto balancer = connectFrom("127.0.0.1", m_listener->serverPort());
    QVERIFY(balancer);
    if (inTwoParts) {
        balancer->write(header.left(10));
        QVERIFY(balancer->waitForBytesWritten(5000));
        QTRY_COMPARE(m_listener->waitingForHeader(), 1);
        balancer->write(header.mid(10) + "hello");
    } else {
        balancer->write(header + "hello");
    }
    QTcpSocket *socket = accepted();
    QVERIFY(socket);
    QCOMPARE(socket->peerAddress().toString(), client);
    QCOMPARE(int(socket->peerPort()), clientPort < 0 ? int(balancer->localPort()) : clientPort);
    // The client's own bytes, and nothing of the header.
    QTRY_COMPARE_WITH_TIMEOUT(socket->bytesAvailable(), qint64(5), 2000);
    QCOMPARE(socket->readAll(), QByteArray("hello"));
    QCOMPARE(m_listener->waitingForHeader(), 0);
}

void TestProxiedListener::headerFromAnyoneElseIsTheirBytes()
{
    const QByteArray forged = ProxyHeaderBytes::proxy(QHostAddress("127.0.0.9"), 4321);
    const auto client = connectFrom("127.0.0.2", m_listener->serverPort());
    QVERIFY(client);
    client->write(forged);
    QTcpSocket *socket = accepted();
    QVERIFY(socket);
    QCOMPARE(socket->peerAddress().toString(), QString("127.0.0.2"));
    QTRY_COMPARE(socket->bytesAvailable(), qint64(forged.size()));
    QCOMPARE(socket->readAll(), forged);
}

void TestProxiedListener::trustedConnectionWithoutHeaderIsClosed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("an HTTP request")
        << QByteArray("GET / HTTP/1.1\r\n\r\n") << "no PROXY protocol v2 signature";
    QTest::newRow("oversized") << ProxyHeaderBytes::header(0x21, 0x11, QByteArray(600, '\0'))
                               << "PROXY header of 616 bytes, more than 512";
    QTest::newRow("closed half way")
        << ProxyHeaderBytes::kSignature.left(6) << "closed before its PROXY header";
}

void TestProxiedListener::trustedConnectionWithoutHeaderIsClosed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const auto balancer = connectFrom("127.0.0.1", m_listener->serverPort());
    QVERIFY(balancer);
    QSignalSpy closed(balancer.get(), &QTcpSocket::disconnected);
    balancer->write(bytes);
    if (reason.startsWith("closed"))
        balancer->disconnectFromHost();
    QTRY_VERIFY(m_log->contains("closing a connection from balancer 127.0.0.1: " + reason));
    QTRY_COMPARE(balancer->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!m_listener->hasPendingConnections());
    QCOMPARE(m_listener->waitingForHeader(), 0);
}

void TestProxiedListener::silentBalancerConnectionIsClosedAfterTheDeadline()
{
    const auto balancer = connectFrom("127.0.0.1", m_listener->serverPort());
    QVERIFY(balancer);
    QTRY_COMPARE(m_listener->waitingForHeader(), 1);
    QSignalSpy closed(balancer.get(), &QTcpSocket::disconnected);
    QVERIFY(closed.wait(ProxiedListener::kHeaderDeadlineMs + 5000));
    QVERIFY(m_log->contains("no PROXY header within"));
    QCOMPARE(m_listener->waitingForHeader(), 0);
    QVERIFY(!m_listener->hasPendingConnections());
}

void TestProxiedListener::balancerAddresses_data()
{
    QTest::addColumn<QString>("balancer");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("one address") << "10.0.0.5"
                                 << "10.0.0.5" << true;
    QTest::newRow("its neighbour") << "10.0.0.5"
                                   << "10.0.0.6" << false;
    QTest::newRow("a network") << "10.0.0.0/24"
                               << "10.0.0.77" << true;
    QTest::newRow("outside it") << "10.0.0.0/24"
                                << "10.0.1.1" << false;
    QTest::newRow("IPv4 through an IPv6 listener") << "10.0.0.5"
                                                   << "::ffff:10.0.0.5" << true;
    QTest::newRow("IPv6 network") << "2001:db8::/64"
                                  << "2001:db8::1234" << true;
    QTest::newRow("IPv6 outside") << "2001:db8::/64"
                                  << "2001:db8:0:1::1" << false;
}

void TestProxiedListener::balancerAddresses()
{
    QFETCH(QString, balancer);
    QFETCH(QString, peer);
    TrustedBalancers balancers;
    QString error;
    QVERIFY(balancers.add(balancer, &error));
    QTEST(balancers.trusts(QHostAddress(peer)), "trusted");
    for (const char *bad : {"balancer.example", "10.0.0.5/33", "", "10.0.0.5/"})
        QVERIFY2(!balancers.add(bad, &error) && error.contains("not a balancer"), bad);
}

QTEST_GUILESS_MAIN(TestProxiedListener)
#include "tst_proxiedlistener.moc"

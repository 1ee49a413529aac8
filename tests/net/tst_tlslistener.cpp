#include "net/ProxiedListener.h"
#include "net/TlsCredentials.h"
#include "net/TlsListener.h"
#include "support/ProxyHeaderBytes.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// What a TLS client that never finishes its handshake may hold of the listener. The key and
// certificate are made here by the openssl program.
class TestTlsListener : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void connectionThatNeverSendsAHelloIsClosed();
    void handshakesUnderWayPerAddressAreCapped();
    void finishedHandshakeNoLongerCounts();
    void handshakesPerAddressAreRateLimited();
    void silentConnectionHasNoTlsStateUntilItSpeaks();
    void clientBehindABalancerIsCountedAndNamed();

private:
    std::unique_ptr<QTcpSocket> idleClient();
    // Starts `client`'s handshake and waits, in the event loop, for both ends to finish it.
    static QSslSocket *encryptedServerSide(QSslSocket *client, TlsListener *listener);

    QTemporaryDir m_dir;
    std::unique_ptr<TlsCredentials> m_credentials;
    std::unique_ptr<TlsListener> m_listener;
};

void TestTlsListener::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-keyout", m_dir.filePath("key.pem"), "-out",
                   m_dir.filePath("cert.pem"), "-days", "2", "-subj", "/CN=localhost"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    m_credentials =
        std::make_unique<TlsCredentials>(m_dir.filePath("cert.pem"), m_dir.filePath("key.pem"));
    QString error;
    QVERIFY2(m_credentials->load(&error), qPrintable(error));
}

void TestTlsListener::init()
{
    m_listener = std::make_unique<TlsListener>();
    m_listener->setCredentials(m_credentials.get());
    QVERIFY(m_listener->listen(QHostAddress::LocalHost, 0));
}

QSslSocket *TestTlsListener::encryptedServerSide(QSslSocket *client, TlsListener *listener)
{
    client->setPeerVerifyMode(QSslSocket::VerifyNone);
    client->setPeerVerifyName("localhost");
    client->startClientEncryption();
    if (!QTest::qWaitFor([&] { return client->isEncrypted() && listener->hasPendingConnections(); },
                         10000))
        return nullptr;
    auto *server = qobject_cast<QSslSocket *>(listener->nextPendingConnection());
    if (!server || !QTest::qWaitFor([server] { return server->isEncrypted(); }, 10000))
        return nullptr;
    return server;
}

std::unique_ptr<QTcpSocket> TestTlsListener::idleClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, m_listener->serverPort());
    return client->waitForConnected(5000) ? std::move(client) : nullptr;
}

void TestTlsListener::connectionThatNeverSendsAHelloIsClosed()
{
    const std::unique_ptr<QTcpSocket> client = idleClient();
    QVERIFY(client);
    QSignalSpy closed(client.get(), &QTcpSocket::disconnected);
    QVERIFY(closed.wait(TlsListener::kHandshakeDeadlineMs * 4));
    QTRY_COMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost), 0);
}

void TestTlsListener::handshakesUnderWayPerAddressAreCapped()
{
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < TlsListener::kMaxHandshakesPerAddress; ++i) {
        held.push_back(idleClient());
        QVERIFY(held.back());
    }
    QTRY_COMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost),
                 TlsListener::kMaxHandshakesPerAddress);
    const std::unique_ptr<QTcpSocket> extra = idleClient();
    QVERIFY(extra);
    QSignalSpy closed(extra.get(), &QTcpSocket::disconnected);
    // Closed at once, not at its deadline: that would come after the held ones' deadlines.
    QVERIFY(closed.wait(TlsListener::kHandshakeDeadlineMs * 4));
    for (const auto &client : held)
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

void TestTlsListener::finishedHandshakeNoLongerCounts()
{
    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSignalSpy encrypted(&client, &QSslSocket::encrypted);
    // The server answers on this thread: wait in the event loop, not in the socket.
    client.connectToHostEncrypted("localhost", m_listener->serverPort());
    QVERIFY(encrypted.wait(10000));
    QTRY_COMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost), 0);
    QCOMPARE(client.state(), QAbstractSocket::ConnectedState);
}

void TestTlsListener::handshakesPerAddressAreRateLimited()
{
    // One at a time, each gone before the next: only the rate can refuse one.
    int accepted = 0;
    bool refused = false;
    while (!refused && accepted < 3 * TlsListener::kHandshakeBurst) {
        const std::unique_ptr<QTcpSocket> client = idleClient();
        QVERIFY(client);
        QTRY_VERIFY(m_listener->handshakesFrom(QHostAddress::LocalHost) == 1 ||
                    client->state() != QAbstractSocket::ConnectedState);
        refused = client->state() != QAbstractSocket::ConnectedState;
        accepted += !refused;
        // Taken, as a server would: a listener stops accepting while too many wait untaken.
        delete m_listener->nextPendingConnection();
        client->abort();
        QTRY_COMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost), 0);
    }
    QVERIFY(refused);
    QVERIFY2(accepted >= TlsListener::kHandshakeBurst, qPrintable(QString::number(accepted)));
}

void TestTlsListener::silentConnectionHasNoTlsStateUntilItSpeaks()
{
    QSslSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_listener->serverPort());
    QVERIFY(client.waitForConnected(5000));
    // Counted as it is accepted; a TLS socket would have been made in the same step.
    QTRY_COMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost), 1);
    QVERIFY(m_listener->findChildren<QSslSocket *>().isEmpty());
    QVERIFY(!m_listener->hasPendingConnections());

    QSslSocket *server = encryptedServerSide(&client, m_listener.get());
    QVERIFY(server);
    QCOMPARE(m_listener->handshakesFrom(QHostAddress::LocalHost), 0);
    client.write("hello");
    QTRY_COMPARE(server->bytesAvailable(), qint64(5));
    QCOMPARE(server->readAll(), QByteArray("hello"));
}

void TestTlsListener::clientBehindABalancerIsCountedAndNamed()
{
    ProxiedListener listener;
    listener.setCredentials(m_credentials.get());
    TrustedBalancers balancers;
    QString error;
    QVERIFY(balancers.add("127.0.0.1", &error));
    listener.trustBalancers(balancers);
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));

    QSslSocket balancer;
    balancer.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(balancer.waitForConnected(5000));
    const QHostAddress client("127.0.0.9");
    balancer.write(ProxyHeaderBytes::proxy(client, 4321));
    QTRY_COMPARE(listener.handshakesFrom(client), 1);
    QCOMPARE(listener.handshakesFrom(QHostAddress::LocalHost), 0);

    QSslSocket *server = encryptedServerSide(&balancer, &listener);
    QVERIFY(server);
    QCOMPARE(server->peerAddress(), client);
    QCOMPARE(server->peerPort(), quint16(4321));
    QCOMPARE(listener.handshakesFrom(client), 0);
}

QTEST_GUILESS_MAIN(TestTlsListener)
#include "tst_tlslistener.moc"

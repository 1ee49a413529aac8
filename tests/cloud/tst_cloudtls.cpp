#include "relay/RelayRoom.h"
#include "support/ChildProcess.h"
#include "support/CloudService.h"
#include "support/ProxyHeaderBytes.h"
#include "support/RawWebSocketClient.h"
#include "support/StudioKey.h"
#include "support/TsPackets.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

const QString kRoom = StudioKey::room("00000000000000c3");

using TsPackets::packets;

// A client configuration that trusts the test's authority only.
QSslConfiguration trusting(const QString &caFile)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(caFile));
    return configuration;
}

struct Viewer
{
    QWebSocket socket{QString(), QWebSocketProtocol::Version13};
    QByteArray bytes;
};

// A wss viewer of the room, as a browser on an https page of the relay opens it.
std::unique_ptr<Viewer> openViewer(quint16 port, const QString &caFile)
{
    auto viewer = std::make_unique<Viewer>();
    Viewer *v = viewer.get();
    QObject::connect(&v->socket, &QWebSocket::binaryMessageReceived,
                     [v](const QByteArray &m) { v->bytes += m; });
    v->socket.setSslConfiguration(trusting(caFile));
    QNetworkRequest request(
        QUrl(QString("wss://localhost:%1/websocket/right/%2/readvideo").arg(port).arg(kRoom)));
    request.setRawHeader("Origin", QString("https://localhost:%1").arg(port).toUtf8());
    QSignalSpy connected(&v->socket, &QWebSocket::connected);
    v->socket.open(request);
    if (!connected.wait(5000))
        return nullptr;
    return viewer;
}

// The first bytes of an https request's answer, and the certificate it was served with.
QByteArray httpsGet(quint16 port, const QString &caFile, QSslCertificate *served = nullptr)
{
    QSslSocket socket;
    socket.setSslConfiguration(trusting(caFile));
    socket.connectToHostEncrypted("localhost", port);
    if (!socket.waitForEncrypted(5000))
        return "no TLS: " + socket.errorString().toUtf8();
    if (served)
        *served = socket.peerCertificate();
    socket.write("GET / HTTP/1.0\r\nHost: localhost\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(5000))
        reply += socket.readAll();
    return reply;
}

// A viewer's WebSocket upgrade for the room's video, written by hand.
QByteArray videoUpgrade(quint16 port)
{
    return QString("GET /websocket/right/%1/readvideo HTTP/1.1\r\nHost: localhost:%2\r\n"
                   "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n")
        .arg(kRoom)
        .arg(port)
        .toUtf8();
}

// The studio presenting in the room through `server`, trusting the test's authority, and the
// encoder's connection to it.
bool present(StudioProxy &proxy, QTcpSocket &writer, const QString &server, const QString &caFile)
{
    proxy.setCaFile(caFile);
    if (!proxy.connectToCloud(server, kRoom))
        return false;
    writer.connectToHost(QHostAddress::LocalHost, proxy.ingestPort());
    return writer.waitForConnected(5000);
}

} // namespace

// https and wss: served by the relay itself, and by Debian's haproxy in front of a plain relay.
// The certificates are made here by the openssl program: an authority of the test's own, and
// what it signs.
class TestCloudTls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void wssViewerGetsTheStreamFromATlsRelay();
    void studioRefusesWhatItCannotVerify_data();
    void studioRefusesWhatItCannotVerify();
    void renewedCertificateServesNewViewersAndKeepsConnectedOnes();
    void unusableRenewalKeepsTheCertificateInUse();
    void wssViewerThatDoesNotReadIsDropped();
    void proxyHeaderComesBeforeTheTlsHello();
    void behindHaproxyTerminatingTls();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A key and a certificate for `host`, signed by the test's authority, valid for `days`
    // (negative: expired).
    void issue(const QString &name, const QString &host, int days);
    bool openssl(const QStringList &arguments);

    QTemporaryDir m_dir;
};

bool TestCloudTls::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start("openssl", arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void TestCloudTls::issue(const QString &name, const QString &host, int days)
{
    QFile extensions(path(name + ".ext"));
    QVERIFY(extensions.open(QIODevice::WriteOnly));
    extensions.write("subjectAltName=DNS:" + host.toUtf8() + "\n");
    extensions.close();
    QVERIFY(openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"), "-out",
                     path(name + ".csr"), "-subj", "/CN=" + host}));
    QVERIFY(openssl({"x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.pem"), "-CAkey",
                     path("ca.key"), "-CAcreateserial", "-days", QString::number(days), "-extfile",
                     path(name + ".ext"), "-out", path(name + ".pem")}));
}

void TestCloudTls::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
                     "-out", path("ca.pem"), "-days", "2", "-subj", "/CN=Lumacast test CA"}));
    issue("localhost", "localhost", 2);
    issue("renewed", "localhost", 2);
    issue("other", "other.example", 2);
    issue("expired", "localhost", -1);
}

void TestCloudTls::wssViewerGetsTheStreamFromATlsRelay()
{
    CloudService service(0,
                         {"--tls-cert", path("localhost.pem"), "--tls-key", path("localhost.key")});
    QVERIFY(httpsGet(service.port(), path("ca.pem")).startsWith("HTTP/1.0 200 OK\r\n"));
    StudioProxy proxy;
    QTcpSocket writer;
    QVERIFY(present(proxy, writer, QString("https://localhost:%1").arg(service.port()),
                    path("ca.pem")));
    QVERIFY(proxy.certificateProblem().isEmpty());
    const auto viewer = openViewer(service.port(), path("ca.pem"));
    QVERIFY(viewer);

    const QByteArray stream = packets(400, 1);
    writer.write(stream);
    QTRY_COMPARE(viewer->bytes.size(), stream.size());
    QCOMPARE(viewer->bytes, stream);
}

void TestCloudTls::studioRefusesWhatItCannotVerify_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("caGiven");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown authority")
        << "localhost" << false << "signed by an authority this computer does not trust";
    QTest::newRow("another host") << "other" << true
                                  << "its certificate is for other.example, not localhost";
    QTest::newRow("expired") << "expired" << true << "its certificate expired on";
}

void TestCloudTls::studioRefusesWhatItCannotVerify()
{
    QFETCH(QString, certificate);
    QFETCH(bool, caGiven);
    QFETCH(QString, reason);
    CloudService service(
        0, {"--tls-cert", path(certificate + ".pem"), "--tls-key", path(certificate + ".key")});
    StudioProxy proxy;
    if (caGiven)
        proxy.setCaFile(path("ca.pem"));
    QVERIFY(!proxy.connectToCloud(QString("https://localhost:%1").arg(service.port()), kRoom));
    QVERIFY2(proxy.certificateProblem().contains(reason), qPrintable(proxy.certificateProblem()));
    QVERIFY(!proxy.ingestServer.isListening());
}

void TestCloudTls::renewedCertificateServesNewViewersAndKeepsConnectedOnes()
{
    QTemporaryDir live;
    const QString cert = live.filePath("cert.pem");
    const QString key = live.filePath("key.pem");
    QVERIFY(QFile::copy(path("localhost.pem"), cert) && QFile::copy(path("localhost.key"), key));
    CloudService service(0, {"--tls-cert", cert, "--tls-key", key});
    StudioProxy proxy;
    QTcpSocket writer;
    QVERIFY(present(proxy, writer, QString("https://localhost:%1").arg(service.port()),
                    path("ca.pem")));
    const auto before = openViewer(service.port(), path("ca.pem"));
    QVERIFY(before);
    const QSslCertificate first = before->socket.sslConfiguration().peerCertificate();
    QCOMPARE(first, QSslCertificate::fromPath(path("localhost.pem")).value(0));

    // As certbot does: the new files replace the old ones, key first.
    QVERIFY(QFile::copy(path("renewed.key"), key + ".new") &&
            QFile::copy(path("renewed.pem"), cert + ".new"));
    QVERIFY(std::rename(qPrintable(key + ".new"), qPrintable(key)) == 0);
    QVERIFY(std::rename(qPrintable(cert + ".new"), qPrintable(cert)) == 0);
    QSslCertificate served;
    QVERIFY(httpsGet(service.port(), path("ca.pem"), &served).startsWith("HTTP/1.0 200 OK"));
    QCOMPARE(served, QSslCertificate::fromPath(path("renewed.pem")).value(0));
    const auto after = openViewer(service.port(), path("ca.pem"));
    QVERIFY(after);

    const QByteArray stream = packets(200, 3);
    writer.write(stream);
    QTRY_COMPARE(after->bytes.size(), stream.size());
    QTRY_COMPARE(before->bytes, stream);
    QCOMPARE(before->socket.state(), QAbstractSocket::ConnectedState);
}

void TestCloudTls::unusableRenewalKeepsTheCertificateInUse()
{
    QTemporaryDir live;
    const QString cert = live.filePath("cert.pem");
    const QString key = live.filePath("key.pem");
    QVERIFY(QFile::copy(path("localhost.pem"), cert) && QFile::copy(path("localhost.key"), key));
    const QString log = live.filePath("service.log");
    CloudService service(0, {"--tls-cert", cert, "--tls-key", key}, log);
    // A certificate whose key has not been written yet.
    QVERIFY(QFile::remove(cert) && QFile::copy(path("renewed.pem"), cert));
    QSslCertificate served;
    QVERIFY(httpsGet(service.port(), path("ca.pem"), &served).startsWith("HTTP/1.0 200 OK"));
    QCOMPARE(served, QSslCertificate::fromPath(path("localhost.pem")).value(0));
    QFile lines(log);
    QVERIFY(lines.open(QIODevice::ReadOnly));
    QVERIFY(lines.readAll().contains("keeping the certificate in use"));
}

void TestCloudTls::wssViewerThatDoesNotReadIsDropped()
{
    QTemporaryDir logs;
    const QString log = logs.filePath("service.log");
    CloudService service(
        0, {"--tls-cert", path("localhost.pem"), "--tls-key", path("localhost.key")}, log);
    StudioProxy proxy;
    QTcpSocket writer;
    QVERIFY(present(proxy, writer, QString("https://localhost:%1").arg(service.port()),
                    path("ca.pem")));
    // A viewer that joins and then reads nothing: what it leaves unread is encrypted bytes in
    // the relay, which must count against its caps as plain ones do.
    QSslSocket stalled;
    stalled.setSslConfiguration(trusting(path("ca.pem")));
    stalled.setReadBufferSize(4096);
    stalled.connectToHostEncrypted("localhost", service.port());
    QVERIFY(stalled.waitForEncrypted(5000));
    stalled.write(videoUpgrade(service.port()));
    QVERIFY(stalled.waitForBytesWritten(5000));

    const QByteArray chunk = packets(1000, 7);
    QFile lines(log);
    QVERIFY(lines.open(QIODevice::ReadOnly));
    QByteArray logged;
    // Far more than the slow-viewer bound and the kernel's buffers together.
    for (int i = 0; i < 1000 && !logged.contains("slow viewer"); ++i) {
        writer.write(chunk);
        writer.waitForBytesWritten(1000);
        QTest::qWait(5);
        logged += lines.readAll();
    }
    QVERIFY2(logged.contains("closing slow viewer"), logged.right(500).constData());
}

void TestCloudTls::proxyHeaderComesBeforeTheTlsHello()
{
    QTemporaryDir logs;
    const QString log = logs.filePath("service.log");
    CloudService service(0,
                         {"--tls-cert", path("localhost.pem"), "--tls-key", path("localhost.key"),
                          "--balancer", "127.0.0.1"},
                         log);
    // As a TCP balancer in front of a relay serving TLS itself: the header, then the client's
    // own bytes, its TLS hello first.
    QSslSocket socket;
    socket.setSslConfiguration(trusting(path("ca.pem")));
    socket.connectToHost("localhost", service.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(ProxyHeaderBytes::proxy(QHostAddress("127.0.0.7"), 40007));
    QVERIFY(socket.waitForBytesWritten(5000));
    socket.startClientEncryption();
    QVERIFY2(socket.waitForEncrypted(5000), qPrintable(socket.errorString()));
    // A room nobody presents: the refusal names the client the header named.
    socket.write(videoUpgrade(service.port()));
    QFile lines(log);
    QVERIFY(lines.open(QIODevice::ReadOnly));
    QByteArray logged;
    QTRY_VERIFY2((logged += lines.readAll()).contains("readvideo from 127.0.0.7"),
                 logged.constData());
}

void TestCloudTls::behindHaproxyTerminatingTls()
{
    if (QStandardPaths::findExecutable("haproxy", {"/usr/sbin", "/sbin"}).isEmpty())
        QSKIP("Debian's haproxy is not installed");
    QTemporaryDir logs;
    const QString log = logs.filePath("service.log");
    // Started as the deploy recipe says: haproxy, on this machine, sends PROXY headers.
    CloudService service(0, {"--balancer", "127.0.0.1"}, log);
    // The deploy recipe as it is, on loopback ports of the test's choosing.
    const QString source = qEnvironmentVariable("LUMACAST_SOURCE_DIR") + "/deploy/haproxy/";
    QFile plain(source + "lumacast-cloud.cfg");
    QFile tls(source + "lumacast-cloud-tls.cfg");
    QVERIFY(plain.open(QIODevice::ReadOnly) && tls.open(QIODevice::ReadOnly));
    QTcpServer probeA;
    QTcpServer probeB;
    QVERIFY(probeA.listen(QHostAddress::LocalHost) && probeB.listen(QHostAddress::LocalHost));
    const quint16 plainPort = probeA.serverPort();
    const quint16 tlsPort = probeB.serverPort();
    probeA.close();
    probeB.close();
    QFile pem(path("haproxy.pem"));
    QVERIFY(pem.open(QIODevice::WriteOnly));
    for (const QString &part : {path("localhost.pem"), path("localhost.key")}) {
        QFile file(part);
        QVERIFY(file.open(QIODevice::ReadOnly));
        pem.write(file.readAll());
    }
    pem.close();
    QString config = QString::fromUtf8(plain.readAll() + "\n" + tls.readAll());
    config.replace("bind :8089", QString("bind 127.0.0.1:%1").arg(plainPort));
    config.replace("bind :443", QString("bind 127.0.0.1:%1").arg(tlsPort));
    config.replace("/etc/haproxy/certs/lumacast.pem", pem.fileName());
    config.replace(QRegularExpression("10\\.0\\.0\\.2\\d:8089"), service.server());
    QFile configFile(path("haproxy.cfg"));
    QVERIFY(configFile.open(QIODevice::WriteOnly));
    configFile.write(config.toUtf8());
    configFile.close();

    ChildProcess haproxy;
    ChildProcess::Options options;
    options.quiet = false;
    QString error;
    QVERIFY2(
        haproxy.start("/usr/sbin/haproxy", {"-db", "-f", configFile.fileName()}, options, &error),
        qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(httpsGet(tlsPort, path("ca.pem")).startsWith("HTTP/1.0 200 OK\r\n"),
                             10000);

    StudioProxy proxy;
    QTcpSocket writer;
    QVERIFY(present(proxy, writer, QString("https://localhost:%1").arg(tlsPort), path("ca.pem")));
    // The page's origin is https on the balancer's port; the relay sees ws and the Host header.
    const auto viewer = openViewer(tlsPort, path("ca.pem"));
    QVERIFY(viewer);
    const QByteArray stream = packets(100, 5);
    writer.write(stream);
    QTRY_COMPARE(viewer->bytes, stream);

    // Viewers from two addresses through the balancer: the relay counts each address on its
    // own, so one address at its cap in the room leaves the other's viewers in.
    const QString videoPath = "/websocket/right/" + kRoom + "/readvideo";
    std::vector<std::unique_ptr<RawWebSocketClient>> crowd;
    for (int i = 0; i < RelayRoom::kMaxViewersPerAddress; ++i) {
        crowd.push_back(std::make_unique<RawWebSocketClient>());
        QVERIFY(crowd.back()->open(QHostAddress("127.0.0.2"), plainPort, videoPath));
    }
    RawWebSocketClient oneTooMany;
    QVERIFY(oneTooMany.open(QHostAddress("127.0.0.2"), plainPort, videoPath));
    QTRY_COMPARE(oneTooMany.closeCode, 1008);
    RawWebSocketClient otherAddress;
    QVERIFY(otherAddress.open(QHostAddress("127.0.0.3"), plainPort, videoPath));
    const QByteArray more = packets(100, 6);
    writer.write(more);
    QTRY_VERIFY(otherAddress.binaryBytes >= more.size());
    QCOMPARE(otherAddress.closeCode, -1);
    QTRY_VERIFY(crowd.front()->binaryBytes >= more.size());
    QFile lines(log);
    QVERIFY(lines.open(QIODevice::ReadOnly));
    const QByteArray logged = lines.readAll();
    QVERIFY2(logged.contains("readvideo from 127.0.0.2 : too many viewers from this address"),
             logged.constData());
}

QTEST_GUILESS_MAIN(TestCloudTls)
#include "tst_cloudtls.moc"

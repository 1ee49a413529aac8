// The servers when the process runs out of file descriptors: a crowd of connections past the
// limit must neither spin the event loop nor leave a listener dead once they have gone. Lowers
// this process's own limit, so it runs as a test program of its own.
#include "audience/VoteState.h"
#include "relay/WSServer.h"
#include "support/LogCapture.h"
#include "support/QuestionStoreDir.h"
#include "support/RawHttpClient.h"
#include "support/RawWebSocketClient.h"
#include "web/DBStorage.h"
#include "web/WebServer.h"

#include <QDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kCrowdPerListener = 300;

// Counts socket-notifier wake-ups on this thread: a listener retrying a failed accept at once
// wakes the loop thousands of times a second, a paused one a few times.
class SocketWakeups : public QObject
{
public:
    SocketWakeups() { QCoreApplication::instance()->installEventFilter(this); }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::SockAct)
            ++m_count;
        return false;
    }

private:
    int m_count = 0;
};

int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

bool descriptorsExhausted()
{
    const int fd = dup(STDERR_FILENO);
    if (fd < 0)
        return errno == EMFILE;
    close(fd);
    return false;
}

// A child process that connects `count` sockets to each port once told to, holds them until
// told again, then closes them all and exits. Only plain system calls run after fork().
class ConnectionCrowd
{
public:
    bool start(const QVector<quint16> &ports, int count)
    {
        if (pipe(m_go) != 0)
            return false;
        m_pid = fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0)
            run(ports, count);
        close(m_go[0]);
        return true;
    }
    // First call: connect; second call: close everything and exit.
    void signal() { (void)!write(m_go[1], "x", 1); }
    bool waitForExit()
    {
        close(m_go[1]);
        int status = 0;
        return waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status);
    }
    ~ConnectionCrowd()
    {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    [[noreturn]] void run(const QVector<quint16> &ports, int count)
    {
        close(m_go[1]);
        char byte;
        if (read(m_go[0], &byte, 1) != 1)
            _exit(1);
        std::vector<int> sockets;
        for (const quint16 port : ports) {
            for (int i = 0; i < count; ++i) {
                const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                if (fd < 0)
                    _exit(2);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(port);
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                (void)!connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
                sockets.push_back(fd);
            }
        }
        (void)!read(m_go[0], &byte, 1);
        for (const int fd : sockets)
            close(fd);
        _exit(0);
    }

    int m_go[2] = {-1, -1};
    pid_t m_pid = -1;
};

} // namespace

class TestDescriptorLimit : public QObject
{
    Q_OBJECT
private slots:
    void crowdPastTheLimitNeitherSpinsNorLocksOut();
};

void TestDescriptorLimit::crowdPastTheLimitNeitherSpinsNorLocksOut()
{
    QuestionStoreDir storeDir;
    QTemporaryDir webDir;
    QVERIFY(webDir.isValid());
    VoteState vote;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    WebServer http(&vote, &store);
    http.listen("127.0.0.1", 0, webDir.path(), 1.5);
    QVERIFY(http.serverPort() != 0);
    WSServer relay(0);
    relay.start("127.0.0.1", 0);
    QVERIFY(relay.isListening());

    ConnectionCrowd crowd;
    QVERIFY(crowd.start({http.serverPort(), relay.serverPort()}, kCrowdPerListener));

    // Room for the test's own later connections, not for the crowd.
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit original = limit;
    limit.rlim_cur = rlim_t(openDescriptors() + 40);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);

    // A listener that has served before: Qt then no longer reports running out of descriptors.
    QVERIFY(RawHttpClient::body(RawHttpClient::get(http.serverPort(), "/config.js"))
                .contains("maxAudioLag"));
    LogCapture log;
    crowd.signal();
    QTRY_VERIFY_WITH_TIMEOUT(descriptorsExhausted(), 10000);
    // The connections that did get in are dealt with first; then the studio must sit still.
    QTest::qWait(1000);
    SocketWakeups wakeups;
    QTest::qWait(2000);
    // Ten retries at most in these two seconds, each a wake-up or two; a spin is thousands.
    qInfo() << "socket wake-ups while out of descriptors:" << wakeups.count();
    QVERIFY2(wakeups.count() < 200, qPrintable(QString::number(wakeups.count())));

    crowd.signal();
    QVERIFY(crowd.waitForExit());
    // Sockets of the crowd that were accepted are released as their peers close; the listeners
    // take new connections again.
    QTRY_VERIFY_WITH_TIMEOUT(
        RawHttpClient::body(RawHttpClient::get(http.serverPort(), "/config.js"))
            .contains("maxAudioLag"),
        15000);
    std::unique_ptr<RawWebSocketClient> viewer;
    QTRY_VERIFY_WITH_TIMEOUT(
        (viewer = std::make_unique<RawWebSocketClient>())
            ->open(QHostAddress::LocalHost, relay.serverPort(), "/readvideo", 2000),
        15000);
    QTRY_COMPARE(relay.room().videoViewers(), 1);
    QVERIFY(log.contains("viewer HTTP server out of file descriptors"));
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &original), 0);
}

QTEST_GUILESS_MAIN(TestDescriptorLimit)
#include "tst_descriptorlimit.moc"

// http_questions [pages]   (default 200)
//
// 20 viewers post 2,000 questions in total to the viewer HTTP server over loopback and read the
// question list while they post, and `pages` command viewers of the relay (in a second process,
// each from a loopback address of its own) watch the list the question board pushes; prints the
// request rate and response times, how soon after the last post every page held the list with
// all the questions, and checks that every question was stored exactly once. The database lives
// in a temporary directory.

#include "../support/CommandCrowd.h"
#include "relay/WSServer.h"
#include "support/Percentile.h"
#include "support/RawWebSocketClient.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"
#include "web/WebServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace {

const int kClients = 20;
const int kQuestionsPerClient = 100;
const int kPostsPerListRead = 10;
const int kRequestTimeoutMs = 10000;
const int kDrainTimeoutMs = 120000;

struct Sample
{
    bool isList;
    double ms;
    bool ok;
};

// One HTTP/1.0 exchange on a fresh connection, timed from connecting to the server's close.
Sample request(quint16 port, const QByteArray &path, bool isList)
{
    QElapsedTimer timer;
    timer.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    bool ok = socket.waitForConnected(kRequestTimeoutMs);
    if (ok) {
        socket.write("GET " + path + " HTTP/1.0\r\n\r\n");
        QByteArray reply;
        while (socket.state() == QAbstractSocket::ConnectedState &&
               socket.waitForReadyRead(kRequestTimeoutMs))
            reply += socket.readAll();
        reply += socket.readAll();
        ok = reply.startsWith("HTTP/1.0 200 OK\r\n");
    }
    return {isList, timer.nsecsElapsed() / 1e6, ok};
}

QByteArray questionPath(int client, int question)
{
    const QJsonObject payload{{"name", QString("viewer %1").arg(client)},
                              {"msg", QString("c%1-q%2").arg(client).arg(question)}};
    return "/feedback.php?raw=" +
           QUrl::toPercentEncoding(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

void printLine(const char *label, const std::vector<Sample> &samples, bool lists)
{
    std::vector<double> ms;
    for (const Sample &sample : samples) {
        if (sample.isList == lists)
            ms.push_back(sample.ms);
    }
    std::printf("%-14s %6zu requests   p50 %7.2f ms   p99 %7.2f ms   max %7.2f ms\n", label,
                ms.size(), percentile(ms, 0.50), percentile(ms, 0.99),
                ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
}

// Every "cX-qY" exactly once.
bool storedExactlyOnce(const QuestionRecords &records)
{
    std::vector<int> seen(kClients * kQuestionsPerClient, 0);
    for (const QuestionRecord &record : records) {
        int client = -1;
        int question = -1;
        const QByteArray text = record.question.toUtf8();
        if (std::sscanf(text.constData(), "c%d-q%d", &client, &question) != 2 || client < 0 ||
            client >= kClients || question < 0 || question >= kQuestionsPerClient)
            return false;
        ++seen[size_t(client * kQuestionsPerClient + question)];
    }
    return std::all_of(seen.begin(), seen.end(), [](int count) { return count == 1; });
}

// The crowd of watching pages: prints "ready" once all are connected, then "all" once every one
// has been sent a list that counts every question.
int runWatchers(quint16 port, int pages)
{
    std::vector<std::unique_ptr<RawWebSocketClient>> crowd;
    auto waiting = std::make_shared<int>(pages);
    for (int i = 0; i < pages; ++i) {
        auto page = std::make_unique<RawWebSocketClient>();
        if (!page->open(CommandCrowd::viewerAddress(i), port, "/cmdchannel")) {
            std::fprintf(stderr, "page %d could not connect\n", i);
            return 1;
        }
        auto done = std::make_shared<bool>(false);
        QObject::connect(page.get(), &RawWebSocketClient::textReceived, page.get(),
                         [waiting, done](const QString &text) {
                             const QJsonObject list =
                                 QJsonDocument::fromJson(text.toUtf8()).object();
                             if (*done || list["total"].toInt() < kClients * kQuestionsPerClient)
                                 return;
                             *done = true;
                             if (--*waiting == 0) {
                                 std::printf("all\n");
                                 std::fflush(stdout);
                             }
                         });
        crowd.push_back(std::move(page));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (const int crowdExit = CommandCrowd::startOrRunCrowd(args, runWatchers); crowdExit >= 0)
        return crowdExit;
    const int pages = args.size() > 1 ? args.value(1).toInt() : 200;
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());

    DBStorage storage;
    QuestionBoard board(&storage);
    // The vote route is not exercised, so no voting window is needed.
    WebServer server(nullptr, &storage, nullptr, &board);
    server.setQuestionsPerMinute(0); // every poster here comes from 127.0.0.1
    server.listen("127.0.0.1", 0, dataHome.path(), 0);
    const quint16 port = server.serverPort();
    while (!storage.isOpen())
        QThread::msleep(5);
    WSServer relay(0);
    relay.start("127.0.0.1", 0);
    QObject::connect(&board, &QuestionBoard::command, &relay, &WSServer::sendCommand);
    QProcess watchers;
    watchers.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (pages > 0) {
        watchers.start(app.applicationFilePath(),
                       {"--crowd", QString::number(relay.serverPort()), QString::number(pages)});
        if (!CommandCrowd::waitFor(
                [&] { return watchers.canReadLine() || watchers.state() == QProcess::NotRunning; },
                120000) ||
            !watchers.readLine().startsWith("ready") ||
            !CommandCrowd::waitFor([&] { return relay.room().commandViewers() == pages; }, 10000)) {
            std::fprintf(stderr, "the pages did not connect (%d of %d)\n",
                         int(relay.room().commandViewers()), pages);
            return 1;
        }
    }

    std::mutex samplesMutex;
    std::vector<Sample> samples;
    std::vector<std::thread> clients;
    QElapsedTimer wall;
    wall.start();
    qint64 pagesSawAllMs = -1;
    QObject::connect(&watchers, &QProcess::readyReadStandardOutput, [&] {
        while (watchers.canReadLine())
            if (watchers.readLine().startsWith("all"))
                pagesSawAllMs = wall.elapsed();
    });
    qint64 clientsDoneMs = 0;
    int running = kClients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            pthread_setname_np(pthread_self(), "viewer");
            std::vector<Sample> own;
            for (int q = 0; q < kQuestionsPerClient; ++q) {
                own.push_back(request(port, questionPath(c, q), false));
                if ((q + 1) % kPostsPerListRead == 0)
                    own.push_back(request(port, "/feedback_list.json", true));
            }
            std::lock_guard<std::mutex> lock(samplesMutex);
            samples.insert(samples.end(), own.begin(), own.end());
            QMetaObject::invokeMethod(&app, [&] {
                if (--running == 0)
                    clientsDoneMs = wall.elapsed();
            });
        });
    }

    QuestionRecords stored;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        if (running > 0)
            return;
        stored = storage.selectQuestions();
        if (stored.size() >= kClients * kQuestionsPerClient || wall.elapsed() > kDrainTimeoutMs)
            app.quit();
    });
    drain.start(20);
    app.exec();
    const qint64 drainedMs = wall.elapsed();
    const bool pagesSawAll =
        pages == 0 || CommandCrowd::waitFor([&] { return pagesSawAllMs >= 0; }, 10000);
    watchers.kill();
    watchers.waitForFinished();
    for (std::thread &client : clients)
        client.join();

    const int failed =
        int(std::count_if(samples.begin(), samples.end(), [](const Sample &s) { return !s.ok; }));
    const bool exact = stored.size() == kClients * kQuestionsPerClient && storedExactlyOnce(stored);
    std::vector<double> all;
    for (const Sample &sample : samples)
        all.push_back(sample.ms);

    std::printf("http_questions: %d clients, %d questions, a list read after every %d posts; "
                "%d pages watch the pushed list\n",
                kClients, kClients * kQuestionsPerClient, kPostsPerListRead, pages);
    std::printf("requests       %6zu in %.2f s = %.0f requests/s (%d failed)\n", samples.size(),
                double(clientsDoneMs) / 1000.0,
                double(samples.size()) * 1000.0 / double(clientsDoneMs), failed);
    std::printf("all requests   p50 %7.2f ms   p99 %7.2f ms\n", percentile(all, 0.50),
                percentile(all, 0.99));
    printLine("posts", samples, false);
    printLine("list reads", samples, true);
    std::printf("stored         %6lld questions, all stored %.2f s after the start; every "
                "question exactly once: %s\n",
                static_cast<long long>(stored.size()), double(drainedMs) / 1000.0,
                exact ? "yes" : "NO");
    if (pages > 0)
        std::printf("pages          %6d watching; every one held the list counting all questions "
                    "%s %lld ms after the last post\n",
                    pages, pagesSawAll ? "" : "NOT",
                    static_cast<long long>(pagesSawAllMs - clientsDoneMs));
    std::printf("goal           nothing lost: %s; p99 under 50 ms: %s\n", exact ? "met" : "MISSED",
                percentile(all, 0.99) < 50 ? "met" : "MISSED");
    return exact && failed == 0 && pagesSawAll ? 0 : 1;
}

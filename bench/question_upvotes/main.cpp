// question_upvotes [viewers] [--cloud]   (default 1000)
//
// The local relay (or with --cloud the studio's link to the build's lumacast-cloud, started on
// loopback), the questions store (in a temporary folder) and the question board in this
// process; a crowd of command viewers, each from a loopback address of its own, in a second one,
// and one more viewer that only watches. The presenter puts a question on screen; every viewer
// upvotes it the moment the list showing it reaches them. Prints when the store had committed
// them all, when the watching viewer got the list that shows them all, and the CPU spent.
#include "../support/CommandCrowd.h"
#include "net/DescriptorLimit.h"
#include "relay/WSServer.h"
#include "support/CloudService.h"
#include "support/RawWebSocketClient.h"
#include "support/StudioKey.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Where the crowd process finds the viewers' channel: the local relay's, or a cloud room's.
constexpr char kChannelVariable[] = "QUESTION_UPVOTES_CHANNEL";

using CommandCrowd::cpuSeconds;
using CommandCrowd::viewerAddress;
using CommandCrowd::waitFor;

// The upvotes of question 1 in a "questions" list, -1 if it is not on screen.
int upvotesOnScreen(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message["command"] != "questions" || message["highlight"].toInt() != 1)
        return -1;
    for (const QJsonValue &entry : message["questions"].toArray())
        if (entry["id"].toInt() == 1)
            return entry["upvotes"].toInt();
    return -1;
}

int runCrowd(quint16 port, int viewers)
{
    std::vector<std::unique_ptr<RawWebSocketClient>> crowd;
    for (int i = 0; i < viewers; ++i) {
        auto client = std::make_unique<RawWebSocketClient>();
        if (!client->open(viewerAddress(i), port,
                          qEnvironmentVariable(kChannelVariable, "/cmdchannel"))) {
            std::fprintf(stderr, "viewer %d could not connect\n", i);
            return 1;
        }
        RawWebSocketClient *self = client.get();
        auto voted = std::make_shared<bool>(false);
        QObject::connect(
            self, &RawWebSocketClient::textReceived, self, [self, i, voted](const QString &text) {
                if (*voted || upvotesOnScreen(text) < 0)
                    return;
                *voted = true;
                self->sendText(
                    QJsonDocument(QJsonObject{{"command", "question_upvote"},
                                              {"id", 1},
                                              {"voter", QString("bench-viewer-%1").arg(i)},
                                              {"up", true}})
                        .toJson(QJsonDocument::Compact));
            });
        crowd.push_back(std::move(client));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (const int crowdExit = CommandCrowd::startOrRunCrowd(args, runCrowd); crowdExit >= 0)
        return crowdExit;
    const bool cloud = args.contains("--cloud");
    const int viewers =
        args.size() > 1 && args.value(1) != "--cloud" ? args.value(1).toInt() : 1000;

    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO-bench");
    DBStorage store;
    QuestionBoard board(&store);
    WSServer relay(0);
    std::unique_ptr<CloudService> service;
    StudioProxy proxy(&store);
    quint16 port = 0;
    if (cloud) {
        // The service of the build, beside this program.
        if (qEnvironmentVariableIsEmpty("LUMACAST_BINARY_DIR"))
            qputenv("LUMACAST_BINARY_DIR", (app.applicationDirPath() + "/..").toUtf8());
        service = std::make_unique<CloudService>(
            0, QStringList{"--max-viewers", QString::number(viewers + 1)});
        const QString room = StudioKey::room("00000000000000b1");
        if (!proxy.connectToCloud(service->server(), room)) {
            std::fprintf(stderr, "the studio could not present in the cloud room\n");
            return 1;
        }
        qputenv(kChannelVariable, ("/websocket/right/" + room + "/cmdchannel").toUtf8());
        QObject::connect(&board, &QuestionBoard::command, &proxy, &CLOUDProxy::sendCommand);
        QObject::connect(&proxy, &CLOUDProxy::viewerCommand, &board,
                         &QuestionBoard::onViewerMessage);
        port = service->port();
    } else {
        relay.start("127.0.0.1", 0);
        QObject::connect(&board, &QuestionBoard::command, &relay, &WSServer::sendCommand);
        QObject::connect(&relay, &WSServer::viewerCommand, &board, &QuestionBoard::onViewerMessage);
        port = relay.serverPort();
    }
    store.postQuestion(R"({"name":"Ann","msg":"Which one?"})");
    if (!waitFor([&] { return board.questions().size() == 1; }, 10000)) {
        std::fprintf(stderr, "the store did not take the question\n");
        return 1;
    }

    RawWebSocketClient watcher;
    qint64 watcherSawAllMs = -1;
    QElapsedTimer sinceHighlighted;
    QObject::connect(&watcher, &RawWebSocketClient::textReceived, [&](const QString &text) {
        if (watcherSawAllMs < 0 && upvotesOnScreen(text) == viewers)
            watcherSawAllMs = sinceHighlighted.elapsed();
    });
    QProcess crowd;
    crowd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    crowd.start(app.applicationFilePath(),
                {"--crowd", QString::number(port), QString::number(viewers)});
    if (!watcher.open(QHostAddress("127.0.9.1"), port,
                      qEnvironmentVariable(kChannelVariable, "/cmdchannel")) ||
        !waitFor([&] { return crowd.canReadLine() || crowd.state() == QProcess::NotRunning; },
                 120000) ||
        !crowd.readLine().startsWith("ready") ||
        (!cloud && !waitFor([&] { return relay.room().commandViewers() == viewers + 1; }, 10000))) {
        std::fprintf(stderr, "the crowd did not connect (%d of %d)\n",
                     int(relay.room().commandViewers()), viewers + 1);
        return 1;
    }

    qint64 storedAllMs = -1;
    QObject::connect(&board, &QuestionBoard::changed, [&] {
        if (storedAllMs < 0 && board.question(1).upvotes == viewers)
            storedAllMs = sinceHighlighted.elapsed();
    });
    const double cpuBefore = cpuSeconds();
    sinceHighlighted.start();
    board.highlight(1);
    waitFor([&] { return watcherSawAllMs >= 0; }, 10000);
    const double cpu = cpuSeconds() - cpuBefore;
    const int counted = board.question(1).upvotes;
    std::printf("question_upvotes: %d command viewers, each from its own loopback address, upvote "
                "the question put on screen%s\n",
                viewers, cloud ? ", through lumacast-cloud" : "");
    std::printf("  upvotes committed: %d of %d%s, all of them %lld ms after the highlight\n",
                counted, viewers, counted == viewers ? "" : "  (NOT ALL)", (long long)storedAllMs);
    std::printf("  a watching page had the list showing them all after %lld ms\n",
                (long long)watcherSawAllMs);
    std::printf("  studio CPU until then: %.3f s\n", cpu);
    crowd.kill();
    crowd.waitForFinished();
    relay.stop();
    proxy.disconnectFromCloud();
    return counted == viewers && watcherSawAllMs >= 0 ? 0 : 1;
}

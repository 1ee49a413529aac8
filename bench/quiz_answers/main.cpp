// quiz_answers [viewers]   (default 1000)
//
// The local relay and a quiz session in this process; a crowd of command viewers, each from a
// loopback address of its own, in a second one. Every viewer answers the moment the question
// reaches it. Prints how many answers the studio counted within one second of asking, when the
// answers arrived, and the CPU the studio spent.
#include "../support/CommandCrowd.h"
#include "net/DescriptorLimit.h"
#include "quiz/QuizSession.h"
#include "relay/WSServer.h"
#include "support/RawWebSocketClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kQuestionSeconds = 20;
constexpr int kCountWithinMs = 1000;

using CommandCrowd::cpuSeconds;
using CommandCrowd::viewerAddress;
using CommandCrowd::waitFor;

// The crowd: connects every viewer, says so on standard output, answers each question at once.
int runCrowd(quint16 port, int viewers)
{
    std::vector<std::unique_ptr<RawWebSocketClient>> crowd;
    for (int i = 0; i < viewers; ++i) {
        auto client = std::make_unique<RawWebSocketClient>();
        if (!client->open(viewerAddress(i), port, "/cmdchannel")) {
            std::fprintf(stderr, "viewer %d could not connect\n", i);
            return 1;
        }
        RawWebSocketClient *self = client.get();
        QObject::connect(
            self, &RawWebSocketClient::textReceived, self, [self, i](const QString &text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                if (message["command"] != "quiz_question")
                    return;
                self->sendText(QJsonDocument(QJsonObject{{"command", "quiz_answer"},
                                                         {"number", message["number"]},
                                                         {"option", 1 + i % 4},
                                                         {"nickname", QString("viewer %1").arg(i)}})
                                   .toJson(QJsonDocument::Compact));
            });
        crowd.push_back(std::move(client));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

QuizInfo oneQuestion()
{
    return QuizInfo{
        "bench", "Bench",
        QJsonArray{QJsonObject{{"title", "Which?"}, {"options", QJsonArray{"a", "b", "c", "d"}}}}};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (const int crowdExit = CommandCrowd::startOrRunCrowd(args, runCrowd); crowdExit >= 0)
        return crowdExit;
    const int viewers = args.size() > 1 ? args.value(1).toInt() : 1000;

    WSServer relay(0);
    relay.start("127.0.0.1", 0);
    QuizSession session(oneQuestion(), kQuestionSeconds);
    QObject::connect(&session, &QuizSession::command, &relay, &WSServer::sendCommand);
    QObject::connect(&relay, &WSServer::viewerCommand, &session, &QuizSession::onViewerMessage);

    QProcess crowd;
    crowd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    crowd.start(app.applicationFilePath(),
                {"--crowd", QString::number(relay.serverPort()), QString::number(viewers)});
    if (!waitFor([&] { return crowd.canReadLine() || crowd.state() == QProcess::NotRunning; },
                 120000) ||
        !crowd.readLine().startsWith("ready") ||
        !waitFor([&] { return relay.room().commandViewers() == viewers; }, 10000)) {
        std::fprintf(stderr, "the crowd did not connect (%d of %d)\n",
                     int(relay.room().commandViewers()), viewers);
        return 1;
    }

    std::vector<qint64> arrivalsMs;
    QElapsedTimer sinceAsked;
    QObject::connect(&session, &QuizSession::changed, [&] {
        while (int(arrivalsMs.size()) < session.play().answeredCount())
            arrivalsMs.push_back(sinceAsked.elapsed());
    });
    const double cpuBefore = cpuSeconds();
    sinceAsked.start();
    session.advance();
    waitFor([&] { return sinceAsked.elapsed() >= kCountWithinMs; }, kCountWithinMs + 1000);
    const double cpu = cpuSeconds() - cpuBefore;
    const int counted = session.play().answeredCount();

    std::sort(arrivalsMs.begin(), arrivalsMs.end());
    const auto at = [&](double share) {
        return arrivalsMs.empty()
                   ? -1
                   : arrivalsMs[std::min(arrivalsMs.size() - 1, size_t(share * arrivalsMs.size()))];
    };
    std::printf("quiz_answers: %d command viewers, each from its own loopback address, answer one "
                "question at once\n",
                viewers);
    std::printf("  counted within %d ms: %d of %d%s\n", kCountWithinMs, counted, viewers,
                counted == viewers ? "" : "  (NOT ALL)");
    std::printf("  answer counted after the question was sent: p50 %lld ms, p95 %lld ms, last "
                "%lld ms\n",
                (long long)at(0.5), (long long)at(0.95), (long long)at(1.0));
    std::printf("  studio CPU in that second: %.3f s\n", cpu);
    crowd.kill();
    crowd.waitForFinished();
    relay.stop();
    return counted == viewers ? 0 : 1;
}

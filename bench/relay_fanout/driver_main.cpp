// Measures the studio's relay fanning a live transport stream out to many
// viewers. For each crowd size it starts a fresh relay process, two viewer
// processes and a sender process, plays about 1.1 Mbit/s of MPEG-1 video and
// MP2 audio through the relay, and prints the relay's CPU and memory and what
// the viewers received and how late.
//
// usage: relay_fanout [--seconds S] [N ...]      (default: 15 s; 50 200 500 1000)
//
// Built as cloud_fanout, each crowd size runs twice: on the local relay, then on lumacast-cloud
// with the stream coming from the studio's cloud relay client in a process of its own (the
// figures are the service's), and the goal compares the two; then a third time on Node's `ws`
// server doing the plain job (node_relay.js), whose memory and start the service's are compared
// with: resident memory with no room, with the room and at the peak with the viewers, and the
// time from start to listening.
//
// Built as cloud_cluster, each crowd size runs on one lumacast-cloud, then on three nodes
// sharing the room over three clustered nats-server processes, the presenter on the first node
// and the viewers spread evenly: the lag the NATS hop adds (viewers on the other nodes against
// those on the presenter's node, in the same run) and the CPU per viewer against one node.

#include "DeliveryReport.h"
#include "LoopbackAddress.h"
#include "MonotonicClock.h"
#include "ProcessUsage.h"
#include "StreamLayout.h"
#include "support/ChildProcess.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace StreamLayout;

namespace {

constexpr double kGoalCpu = 0.65;
constexpr double kGoalMegabytes = 80;
constexpr double kGoalP95Ms = 30;
constexpr int kIngestWaitSeconds = 600;
constexpr int kRelayAttempts = 5;
#ifdef FANOUT_BESIDE_CLOUD
constexpr bool kBesideCloud = true;
#else
constexpr bool kBesideCloud = false;
#endif
#ifdef FANOUT_CLUSTER
constexpr bool kCluster = true;
#else
constexpr bool kCluster = false;
#endif
constexpr int kClusterNodes = 3;
// The NATS hop may add this much lag at p95, and the nodes together this much more CPU per
// viewer than one node.
constexpr double kHopGoalP95Ms = 5;
constexpr double kClusterCpuGoalRatio = 1.15;
// The cloud service may cost at most this much more CPU and lag than the local relay.
constexpr double kCloudGoalRatio = 1.10;
// The service at rest, and how soon after its start it takes connections.
constexpr double kCloudIdleGoalMegabytes = 20;
constexpr double kCloudListenGoalMs = 100;

// A benchmark program that talks in lines on its standard input and output, its standard error
// in `stderrPath`.
std::unique_ptr<ChildProcess> launch(const std::vector<std::string> &argv,
                                     const std::string &stderrPath)
{
    ChildProcess::Options options;
    options.quiet = false;
    options.pipes = true;
    options.stderrPath = QString::fromStdString(stderrPath);
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i)
        arguments.append(QString::fromStdString(argv[i]));
    auto child = std::make_unique<ChildProcess>();
    QString error;
    if (!child->start(QString::fromStdString(argv.at(0)), arguments, options, &error))
        throw std::runtime_error(error.toStdString());
    return child;
}

enum class Relay { Local, Cloud, Node };

const char *relayName(Relay relay)
{
    switch (relay) {
    case Relay::Local:
        return "local";
    case Relay::Cloud:
        return "cloud";
    case Relay::Node:
        return "node";
    }
    return "";
}

struct Round
{
    Relay relay = Relay::Local;
    int viewers = 0;
    double listenMs = 0;    // from the relay's start to its listening line
    double rssNoRoomMb = 0; // the service before its presenter opened the room
    int upgraded = 0;
    double relayCpuPerSecond = 0;
    double relayWaitMsPerSecond = 0;
    double viewerCpuPerSecond = 0;
    double rssIdleMb = 0;
    double rssEndMb = 0;
    double rssPeakMb = 0;
    double sendMbitPerSecond = 0;
    double minSharePercent = 0;
    int complete = 0;
    int closed = 0;
    unsigned long long badPackets = 0;
    unsigned long long missedWrites = 0;
    double lagMedianMs = 0;
    double lagP95Ms = 0;
    double lagWorstMs = 0;
    std::string relayCounters;
};

struct ClusterRound
{
    int viewers = 0;
    int upgraded = 0;
    int complete = 0;
    std::vector<double> nodeCpuPerSecond;
    double natsCpuPerSecond = 0;
    double ownLagMs[2] = {0, 0};   // p50, p95 of the viewers on the presenter's node
    double otherLagMs[2] = {0, 0}; // of the viewers on the other nodes
    double cpuPerSecond() const
    {
        double sum = 0;
        for (const double cpu : nodeCpuPerSecond)
            sum += cpu;
        return sum;
    }
};

class Bench
{
public:
    Bench(const fs::path &binDir, const fs::path &workDir, int seconds)
        : m_binDir(binDir), m_workDir(workDir), m_seconds(seconds)
    {}

    void generateStreams()
    {
        const std::string duration = " -t " + std::to_string(m_seconds);
        // 960x540 MPEG-1 at 820 kbit/s and 128 kbit/s MP2, each on its own PIDs: about 1.1 Mbit/s
        // with the transport overhead. One PES per audio frame, as a live writer flushes them.
        runFfmpeg("-f lavfi -i testsrc2=size=960x540:rate=24" + duration +
                      " -c:v mpeg1video -b:v 820k -maxrate 820k -bufsize 400k -bf 0 -g 240"
                      " -f mpegts -mpegts_pmt_start_pid 0x1000 -mpegts_start_pid " +
                      std::to_string(kVideoPid),
                  videoPath());
        runFfmpeg("-f lavfi -i sine=frequency=440:sample_rate=48000" + duration +
                      " -ac 1 -c:a mp2 -b:a 128k -pes_payload_size 0"
                      " -f mpegts -mpegts_pmt_start_pid 0x1100 -mpegts_start_pid " +
                      std::to_string(kAudioPid),
                  audioPath());
    }

    // `cloud`: lumacast-cloud is the relay, the cloud relay client feeds it, the viewers watch
    // the room.
    Round run(int viewers, Relay kind)
    {
        const bool cloud = kind == Relay::Cloud;
        const std::string tag = std::to_string(viewers) + "-" + relayName(kind);
        Round round;
        round.relay = kind;
        round.viewers = viewers;
        const std::unique_ptr<ChildProcess> relayProcess =
            cloud ? startCloud(tag, {}, &round.listenMs) : startRelay(tag, kind, &round.listenMs);
        ChildProcess &relay = *relayProcess;
        round.rssNoRoomMb = ProcessUsage::statusBytes(relay.pid(), "VmRSS") / 1e6;
        const std::unique_ptr<ChildProcess> presenter = cloud ? startPresenter(tag) : nullptr;
        // Who knows the counters: the relay, or for the service the client it reports to.
        ChildProcess &counters = cloud ? *presenter : relay;
        const std::string path = cloud ? "/websocket/right/" + m_room + "/readvideo" : "/readvideo";

        round.rssIdleMb = ProcessUsage::statusBytes(relay.pid(), "VmRSS") / 1e6;
        const int firstHalf = viewers / 2;
        const int counts[] = {firstHalf, viewers - firstHalf};
        std::vector<std::unique_ptr<ChildProcess>> crowds;
        for (int i = 0; i < 2; ++i) {
            const std::string name = "viewers-" + tag + "-" + std::to_string(i);
            crowds.push_back(launch(
                std::vector<std::string>{exe("relay_fanout_viewers"), std::to_string(m_port),
                                         std::to_string(counts[i]), work(name + ".bin"), path},
                work(name + ".log")));
        }
        round.upgraded = upgradedViewers(crowds);

        const double relayCpuBefore = ProcessUsage::cpuSeconds(relay.pid());
        const double relayWaitBefore = ProcessUsage::runQueueWaitSeconds(relay.pid());
        const double viewerCpuBefore = crowdCpu(crowds);
        const std::int64_t startNs = monotonicNs();
        const std::unique_ptr<ChildProcess> sender = startSender(tag);
        std::istringstream sent(sender->readLine((m_seconds + 30) * 1000));
        const double windowSeconds = (monotonicNs() - startNs) / 1e9;
        round.relayCpuPerSecond =
            (ProcessUsage::cpuSeconds(relay.pid()) - relayCpuBefore) / windowSeconds;
        round.relayWaitMsPerSecond =
            (ProcessUsage::runQueueWaitSeconds(relay.pid()) - relayWaitBefore) * 1000 /
            windowSeconds;
        round.viewerCpuPerSecond = (crowdCpu(crowds) - viewerCpuBefore) / windowSeconds;
        round.rssEndMb = ProcessUsage::statusBytes(relay.pid(), "VmRSS") / 1e6;
        round.rssPeakMb = ProcessUsage::statusBytes(relay.pid(), "VmHWM") / 1e6;
        if (sender->wait(10000) != 0)
            throw std::runtime_error("sender failed, see " + work("sender-" + tag + ".log"));
        std::string word;
        unsigned long long sentBytes = 0;
        double sendSeconds = 0;
        sent >> word >> sentBytes >> sendSeconds;
        round.sendMbitPerSecond = sentBytes * 8 / sendSeconds / 1e6;

        // Let the last writes drain to every viewer before the crowd stops reading.
        usleep(1000000);
        if (cloud) // the service reports every 3 s
            usleep(3500000);
        counters.writeLine("report");
        round.relayCounters = counters.readLine(10000);
        for (auto &crowd : crowds)
            crowd->closeInput();
        DeliveryReport report(work("send-" + tag + ".bin"), sentBytes);
        for (int i = 0; i < 2; ++i) {
            crowds[i]->wait(60000);
            report.addViewers(work("viewers-" + tag + "-" + std::to_string(i) + ".bin"));
        }
        if (cloud) {
            presenter->closeInput();
            presenter->wait(30000);
            relay.stop();
        } else {
            relay.closeInput();
            relay.wait(30000);
        }

        round.minSharePercent = report.minShare() * 100;
        round.complete = report.completeViewers();
        round.closed = report.closedViewers();
        round.badPackets = report.badPackets();
        round.missedWrites = report.missedWrites();
        round.lagMedianMs = report.lagMs(0.5);
        round.lagP95Ms = report.lagMs(0.95);
        round.lagWorstMs = report.lagMs(1.0);
        return round;
    }

    // Three clustered nats-server processes and kClusterNodes lumacast-cloud nodes; the
    // presenter streams to the first node, each node has a third of the viewers.
    ClusterRound runCluster(int viewers)
    {
        const std::string tag = std::to_string(viewers) + "-cluster";
        std::vector<int> clientPorts;
        std::vector<std::string> routes;
        for (int i = 0; i < 3; ++i) {
            clientPorts.push_back(freePort());
            routes.push_back("nats://127.0.0.1:" + std::to_string(freePort()));
        }
        std::vector<std::unique_ptr<ChildProcess>> nats;
        for (int i = 0; i < 3; ++i) {
            std::string others;
            for (int j = 0; j < 3; ++j)
                if (j != i)
                    others += (others.empty() ? "" : ",") + routes[j];
            nats.push_back(
                launch({"nats-server", "-a", "127.0.0.1", "-p", std::to_string(clientPorts[i]),
                        "-n", "nats-" + std::to_string(i), "--cluster_name", "lumacast",
                        "--cluster", routes[i], "--routes", others},
                       work("nats-" + tag + "-" + std::to_string(i) + ".log")));
        }
        sleep(2); // the routes form
        std::vector<std::unique_ptr<ChildProcess>> nodes;
        std::vector<int> nodePorts;
        for (int n = 0; n < kClusterNodes; ++n) {
            std::string urls;
            for (int i = 0; i < 3; ++i)
                urls += (i ? "," : "") + std::string("nats://127.0.0.1:") +
                        std::to_string(clientPorts[(n + i) % 3]);
            nodes.push_back(startCloud(tag + "-" + std::to_string(n), {"--nats", urls}));
            nodePorts.push_back(m_port);
        }
        m_port = nodePorts[0];
        const std::unique_ptr<ChildProcess> presenter = startPresenter(tag);

        ClusterRound round;
        round.viewers = viewers;
        std::vector<std::unique_ptr<ChildProcess>> crowds;
        for (int n = 0; n < kClusterNodes; ++n) {
            const int count = viewers / kClusterNodes + (n == 0 ? viewers % kClusterNodes : 0);
            const std::string name = "viewers-" + tag + "-" + std::to_string(n);
            crowds.push_back(launch({exe("relay_fanout_viewers"), std::to_string(nodePorts[n]),
                                     std::to_string(count), work(name + ".bin"),
                                     "/websocket/right/" + m_room + "/readvideo"},
                                    work(name + ".log")));
        }
        round.upgraded = upgradedViewers(crowds);

        std::vector<double> cpuBefore;
        for (auto &node : nodes)
            cpuBefore.push_back(ProcessUsage::cpuSeconds(node->pid()));
        const double natsBefore = crowdCpu(nats);
        const std::int64_t startNs = monotonicNs();
        const std::unique_ptr<ChildProcess> sender = startSender(tag);
        std::istringstream sent(sender->readLine((m_seconds + 30) * 1000));
        const double windowSeconds = (monotonicNs() - startNs) / 1e9;
        for (std::size_t n = 0; n < nodes.size(); ++n)
            round.nodeCpuPerSecond.push_back(
                (ProcessUsage::cpuSeconds(nodes[n]->pid()) - cpuBefore[n]) / windowSeconds);
        round.natsCpuPerSecond = (crowdCpu(nats) - natsBefore) / windowSeconds;
        if (sender->wait(10000) != 0)
            throw std::runtime_error("sender failed, see " + work("sender-" + tag + ".log"));
        std::string word;
        unsigned long long sentBytes = 0;
        sent >> word >> sentBytes;

        usleep(1000000);
        for (auto &crowd : crowds)
            crowd->closeInput();
        DeliveryReport own(work("send-" + tag + ".bin"), sentBytes);
        DeliveryReport others(work("send-" + tag + ".bin"), sentBytes);
        for (int n = 0; n < kClusterNodes; ++n) {
            crowds[n]->wait(60000);
            (n == 0 ? own : others)
                .addViewers(work("viewers-" + tag + "-" + std::to_string(n) + ".bin"));
        }
        presenter->closeInput();
        presenter->wait(30000);
        for (auto &node : nodes)
            node->stop();
        for (auto &server : nats)
            server->stop();
        round.complete = own.completeViewers() + others.completeViewers();
        round.ownLagMs[0] = own.lagMs(0.5);
        round.ownLagMs[1] = own.lagMs(0.95);
        round.otherLagMs[0] = others.lagMs(0.5);
        round.otherLagMs[1] = others.lagMs(0.95);
        return round;
    }

private:
    std::string exe(const std::string &name) const { return (m_binDir / name).string(); }
    std::string work(const std::string &name) const { return (m_workDir / name).string(); }
    static std::string nodeRelayScript()
    {
#ifdef FANOUT_NODE_RELAY
        return FANOUT_NODE_RELAY;
#else
        return "";
#endif
    }
    std::string videoPath() const
    {
        return work("video.ts");
    }
    std::string audioPath() const
    {
        return work("audio.ts");
    }

    void runFfmpeg(const std::string &options, const std::string &output) const
    {
        std::vector<std::string> args{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error"};
        std::istringstream words(options + " -muxdelay 0 -muxpreload 0 -y");
        for (std::string word; words >> word;)
            args.push_back(word);
        args.push_back(output);
        if (launch(args, work("ffmpeg.log"))->wait(180000) != 0)
            throw std::runtime_error("ffmpeg failed, see " + work("ffmpeg.log"));
    }

    // Tests and a running studio also take the fixed ingest port, now and then for
    // minutes; another may take it between our check and the relay's listen.
    std::unique_ptr<ChildProcess> startRelay(const std::string &tag, Relay kind, double *listenMs)
    {
        for (int attempt = 1;; ++attempt) {
            waitForFreeIngestPort();
            const std::string port = std::to_string(freePort());
            const std::vector<std::string> argv =
                kind == Relay::Node ? std::vector<std::string>{"node", nodeRelayScript(), port,
                                                               std::to_string(kIngestPort)}
                                    : std::vector<std::string>{exe("relay_fanout_relay"), port};
            const std::int64_t startNs = monotonicNs();
            auto relay = launch(argv, work("relay-" + tag + ".log"));
            const std::string answer = relay->readLine(15000);
            *listenMs = (monotonicNs() - startNs) / 1e6;
            if (answer == "READY")
                return relay;
            relay->wait(10000);
            if (attempt == kRelayAttempts)
                throw std::runtime_error("relay could not listen, see " +
                                         work("relay-" + tag + ".log"));
        }
    }

    std::unique_ptr<ChildProcess> startCloud(const std::string &tag,
                                             const std::vector<std::string> &extra = {},
                                             double *listenMs = nullptr)
    {
        std::vector<std::string> argv{exe("lumacast-cloud"), "--listen", "127.0.0.1", "--port",
                                      std::to_string(freePort())};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const std::int64_t startNs = monotonicNs();
        auto service = launch(argv, work("cloud-" + tag + ".log"));
        const std::string answer = service->readLine(15000);
        if (listenMs)
            *listenMs = (monotonicNs() - startNs) / 1e6;
        if (answer.rfind("lumacast-cloud listening", 0) != 0)
            throw std::runtime_error("lumacast-cloud did not start, see " +
                                     work("cloud-" + tag + ".log"));
        return service;
    }

    std::unique_ptr<ChildProcess> startPresenter(const std::string &tag)
    {
        for (int attempt = 1;; ++attempt) {
            waitForFreeIngestPort();
            auto presenter = launch(std::vector<std::string>{exe("cloud_fanout_presenter"),
                                                             "127.0.0.1:" + std::to_string(m_port)},
                                    work("presenter-" + tag + ".log"));
            // "READY <room> <ingest port>": the room belongs to the presenter's own key.
            const std::string answer = presenter->readLine(15000);
            if (answer.rfind("READY ", 0) == 0) {
                m_room = answer.substr(6, answer.find(' ', 6) - 6);
                return presenter;
            }
            presenter->wait(10000);
            if (attempt == kRelayAttempts)
                throw std::runtime_error("cloud relay client failed, see " +
                                         work("presenter-" + tag + ".log"));
        }
    }

    // The port the relay will listen on for viewers: one the kernel just had free.
    int freePort()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        LoopbackAddress address(0);
        bind(fd, address.get(), address.size);
        getsockname(fd, address.get(), &address.size);
        close(fd);
        m_port = ntohs(address.address.sin_port);
        return m_port;
    }

    // The ingest port is fixed, and tests or a running studio may hold it for a while.
    static void waitForFreeIngestPort()
    {
        for (int second = 0; second < kIngestWaitSeconds; ++second) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            const int one = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            LoopbackAddress address(kIngestPort);
            const bool free = bind(fd, address.get(), address.size) == 0;
            close(fd);
            if (free)
                return;
            if (second == 0)
                std::fprintf(stderr, "127.0.0.1:%d is taken; waiting for it to be free\n",
                             kIngestPort);
            sleep(1);
        }
        throw std::runtime_error("127.0.0.1:62000 stayed taken");
    }

    // Plays the generated streams into the ingest port; prints "SENT bytes seconds" at the end.
    std::unique_ptr<ChildProcess> startSender(const std::string &tag) const
    {
        return launch(
            {exe("relay_fanout_sender"), videoPath(), audioPath(), work("send-" + tag + ".bin")},
            work("sender-" + tag + ".log"));
    }

    // Waits for each crowd's "CONNECTED ok failed" line; the viewers that are in.
    static int upgradedViewers(const std::vector<std::unique_ptr<ChildProcess>> &crowds)
    {
        int upgraded = 0;
        for (auto &crowd : crowds) {
            std::istringstream answer(crowd->readLine(120000));
            std::string word;
            int count = 0;
            answer >> word >> count;
            upgraded += count;
        }
        return upgraded;
    }

    static double crowdCpu(const std::vector<std::unique_ptr<ChildProcess>> &crowds)
    {
        double seconds = 0;
        for (const auto &crowd : crowds)
            seconds += ProcessUsage::cpuSeconds(crowd->pid());
        return seconds;
    }

    fs::path m_binDir;
    fs::path m_workDir;
    int m_seconds;
    int m_port = 0;
    std::string m_room; // the cloud room of the last presenter started
};

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string oneMinute;
    in >> oneMinute;
    return oneMinute;
}

void printRound(const Round &r)
{
    std::printf("%-6s%5d %5d %8.3f %6.0f %8.3f %7.1f %7.1f %7.1f %7.3f %8.3f %5d %5d %5llu %6llu "
                "%8.2f %8.2f "
                "%8.2f   %s\n",
                relayName(r.relay), r.viewers, r.upgraded, r.relayCpuPerSecond,
                r.relayWaitMsPerSecond, r.viewerCpuPerSecond, r.rssIdleMb, r.rssEndMb, r.rssPeakMb,
                r.sendMbitPerSecond, r.minSharePercent, r.complete, r.closed, r.badPackets,
                r.missedWrites, r.lagMedianMs, r.lagP95Ms, r.lagWorstMs, loadAverage().c_str());
    std::fflush(stdout);
}

// The round of median relay CPU, carrying the median p95 lag of all. On a shared machine one
// round may fall on a busy moment; rounds of the relays compared take turns, so such moments
// fall on both, and the medians leave them out.
Round medianRound(std::vector<Round> rounds)
{
    std::vector<double> lags;
    for (const Round &r : rounds)
        lags.push_back(r.lagP95Ms);
    std::sort(lags.begin(), lags.end());
    std::sort(rounds.begin(), rounds.end(), [](const Round &a, const Round &b) {
        return a.relayCpuPerSecond < b.relayCpuPerSecond;
    });
    Round median = rounds[rounds.size() / 2];
    median.lagP95Ms = lags[lags.size() / 2];
    return median;
}

void printGoal(const Round &r)
{
    auto verdict = [](bool met) {
        return met ? "met" : "MISSED";
    };
    std::printf("\nGoal at %d viewers:\n"
                "  every byte to every viewer: %s (%d of %d complete)\n"
                "  p95 lag %.2f ms < %.0f ms: %s\n"
                "  relay %.3f CPU-s/s < %.2f: %s\n"
                "  relay RSS peak %.1f MB < %.0f MB: %s (%.1f MB of it before any viewer joined)\n",
                r.viewers, verdict(r.complete == r.viewers), r.complete, r.viewers, r.lagP95Ms,
                kGoalP95Ms, verdict(r.lagP95Ms < kGoalP95Ms), r.relayCpuPerSecond, kGoalCpu,
                verdict(r.relayCpuPerSecond < kGoalCpu), r.rssPeakMb, kGoalMegabytes,
                verdict(r.rssPeakMb < kGoalMegabytes), r.rssIdleMb);
}

void printCloudGoal(const Round &local, const Round &cloud)
{
    const double cpuRatio = cloud.relayCpuPerSecond / local.relayCpuPerSecond;
    const double lagRatio = cloud.lagP95Ms / local.lagP95Ms;
    std::printf("\nlumacast-cloud beside the local relay at %d viewers (goal: within %.0f %%):\n"
                "  CPU %.3f vs %.3f CPU-s/s = %.2f x: %s\n"
                "  lag p95 %.2f vs %.2f ms = %.2f x: %s\n",
                cloud.viewers, (kCloudGoalRatio - 1) * 100, cloud.relayCpuPerSecond,
                local.relayCpuPerSecond, cpuRatio, cpuRatio <= kCloudGoalRatio ? "met" : "MISSED",
                cloud.lagP95Ms, local.lagP95Ms, lagRatio,
                lagRatio <= kCloudGoalRatio ? "met" : "MISSED");
}

// The service's memory and start beside the Node `ws` relay's, the same crowd in the same run.
void printFootprint(const Round &cloud, const Round &node)
{
    auto verdict = [](bool met) {
        return met ? "met" : "MISSED";
    };
    auto perViewerKb = [](const Round &r) {
        return (r.rssPeakMb - r.rssIdleMb) * 1000 / r.viewers;
    };
    std::printf("\nlumacast-cloud beside the Node ws relay at %d viewers:\n"
                "  start to listening %.1f ms (node %.1f ms) <= %.0f ms: %s\n"
                "  RSS with no room %.1f MB (node, no viewer: %.1f MB) <= %.0f MB: %s\n"
                "  RSS with the room, no viewer %.1f MB\n"
                "  RSS peak with the viewers %.1f MB vs node %.1f MB = %.2f x <= 1: %s\n"
                "  per viewer %.1f kB vs node %.1f kB = %.2f x\n",
                cloud.viewers, cloud.listenMs, node.listenMs, kCloudListenGoalMs,
                verdict(cloud.listenMs <= kCloudListenGoalMs), cloud.rssNoRoomMb, node.rssNoRoomMb,
                kCloudIdleGoalMegabytes, verdict(cloud.rssNoRoomMb <= kCloudIdleGoalMegabytes),
                cloud.rssIdleMb, cloud.rssPeakMb, node.rssPeakMb, cloud.rssPeakMb / node.rssPeakMb,
                verdict(cloud.rssPeakMb <= node.rssPeakMb), perViewerKb(cloud), perViewerKb(node),
                perViewerKb(cloud) / perViewerKb(node));
}

void printCluster(const Round &single, const ClusterRound &c)
{
    std::string nodes;
    for (const double cpu : c.nodeCpuPerSecond)
        nodes += (nodes.empty() ? "" : " + ") + std::to_string(cpu).substr(0, 5);
    const double hop[2] = {c.otherLagMs[0] - c.ownLagMs[0], c.otherLagMs[1] - c.ownLagMs[1]};
    const double perViewer = c.cpuPerSecond() / c.viewers;
    const double singlePerViewer = single.relayCpuPerSecond / single.viewers;
    const double ratio = perViewer / singlePerViewer;
    auto verdict = [](bool met) {
        return met ? "met" : "MISSED";
    };
    std::printf(
        "\n%d viewers on %d nodes (%d upgraded, %d with every byte):\n"
        "  nodes' CPU %s = %.3f CPU-s/s, NATS servers %.3f CPU-s/s\n"
        "  lag on the presenter's node p50 %.2f / p95 %.2f ms, on the others %.2f / %.2f ms\n"
        "  added by the NATS hop: p50 %.2f ms, p95 %.2f ms < %.0f ms: %s\n"
        "  viewers served per CPU-second: %.0f across the nodes (one node: %.0f)\n"
        "  CPU per viewer %.2f ms/s vs one node's %.2f ms/s = %.2f x <= %.2f: %s\n",
        c.viewers, kClusterNodes, c.upgraded, c.complete, nodes.c_str(), c.cpuPerSecond(),
        c.natsCpuPerSecond, c.ownLagMs[0], c.ownLagMs[1], c.otherLagMs[0], c.otherLagMs[1], hop[0],
        hop[1], kHopGoalP95Ms, verdict(hop[1] < kHopGoalP95Ms), c.viewers / c.cpuPerSecond(),
        single.viewers / single.relayCpuPerSecond, perViewer * 1000, singlePerViewer * 1000, ratio,
        kClusterCpuGoalRatio, verdict(ratio <= kClusterCpuGoalRatio));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    int seconds = 15;
    int rounds = 1;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--seconds" && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {50, 200, 500, 1000};

    char workTemplate[] = "/tmp/relay_fanout.XXXXXX";
    if (!mkdtemp(workTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path workDir = workTemplate;
    try {
        Bench bench(fs::canonical("/proc/self/exe").parent_path(), workDir, seconds);
        std::printf("Generating %d s of MPEG-1 video + MP2 audio with ffmpeg...\n", seconds);
        std::fflush(stdout);
        bench.generateStreams();
        std::printf(
            "\nRelay: the studio's WSServer in its own process. Window: the sender's %d s.\n"
            "CPU = (utime+stime)/wall over the window; wait = ms per second the relay was runnable "
            "but "
            "had no CPU (other load);\nRSS idle = VmRSS of the relay before "
            "viewers "
            "join, end = VmRSS at the window's end,\npeak = VmHWM (MB = 10^6 bytes).\n"
            "share = min over viewers of received/sent bytes; complete = viewers with every "
            "byte; closed = viewers the relay closed;\n"
            "bad = packets off the 188-byte grid; missed = writes some viewer never got; "
            "lag = sender write() to viewer read, all writes x viewers.\n\n",
            seconds);
        std::printf("relay     N    up  relayCPU  wait viewerCPU RSSidle RSSend RSSpeak  Mbit/s  "
                    "share%% cmplt "
                    "closd   bad missed  lag p50  lag p95 lag worst  load1\n");
        Round last;
        Round lastCloud;
        Round lastNode;
        if (kCluster) {
            for (const int viewers : sizes) {
                const Round single = bench.run(viewers, Relay::Cloud);
                printRound(single);
                printCluster(single, bench.runCluster(viewers));
            }
            fs::remove_all(workDir);
            return 0;
        }
        for (const int viewers : sizes) {
            std::vector<Round> locals;
            std::vector<Round> clouds;
            for (int round = 0; round < rounds; ++round) {
                locals.push_back(bench.run(viewers, Relay::Local));
                printRound(locals.back());
                if (kBesideCloud) {
                    clouds.push_back(bench.run(viewers, Relay::Cloud));
                    printRound(clouds.back());
                }
            }
            last = medianRound(locals);
            if (kBesideCloud) {
                lastCloud = medianRound(clouds);
                lastNode = bench.run(viewers, Relay::Node);
                printRound(lastNode);
            }
        }
        if (rounds > 1)
            std::printf("\nBelow, each relay's round of median CPU, with the median p95 lag of "
                        "its %d rounds.\n",
                        rounds);
        std::printf("\nRelay counters after the last round (received sent consumers): %s\n",
                    last.relayCounters.c_str());
        printGoal(last);
        if (kBesideCloud) {
            std::printf("\nService's figures as its presenter last read them (received total "
                        "clients): %s\n",
                        lastCloud.relayCounters.c_str());
            printGoal(lastCloud);
            printCloudGoal(last, lastCloud);
            printFootprint(lastCloud, lastNode);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "relay_fanout: %s (files kept in %s)\n", error.what(), workTemplate);
        return 1;
    }
    fs::remove_all(workDir);
    return 0;
}

#pragma once

#include "StreamLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// Compares what the sender wrote with what each viewer received: the share of
// the bytes, and for every write the lag from the sender's write() to the read
// in which a viewer held all of that write's elementary packets.
class DeliveryReport
{
public:
    DeliveryReport(const std::string &sendLogPath, std::uint64_t sentBytes);

    // Reads one viewer process's result file.
    void addViewers(const std::string &resultPath);

    int viewers() const { return m_viewers; }
    int completeViewers() const { return m_completeViewers; }
    int closedViewers() const { return m_closedViewers; }
    double minShare() const { return m_viewers ? m_minShare : 0.0; }
    std::uint64_t badPackets() const { return m_badPackets; }
    // Writes some viewer never saw complete.
    std::uint64_t missedWrites() const { return m_missedWrites; }
    std::size_t lagSamples() const { return m_lagsNs.size(); }
    // quantile in [0, 1]; 1 is the worst lag.
    double lagMs(double quantile);

private:
    void addLags(const std::vector<StreamLayout::ArrivalRecord> &arrivals);

    std::uint64_t m_sentBytes;
    std::vector<StreamLayout::SendRecord> m_milestones[StreamLayout::StreamCount];
    std::vector<std::int64_t> m_lagsNs;
    bool m_sorted = false;
    int m_viewers = 0;
    int m_completeViewers = 0;
    int m_closedViewers = 0;
    double m_minShare = 1.0;
    std::uint64_t m_badPackets = 0;
    std::uint64_t m_missedWrites = 0;
};

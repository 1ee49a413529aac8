#include "DeliveryReport.h"

#include "RecordFile.h"

#include <algorithm>
#include <cmath>

using namespace StreamLayout;

DeliveryReport::DeliveryReport(const std::string &sendLogPath, std::uint64_t sentBytes)
    : m_sentBytes(sentBytes)
{
    RecordFile log(sendLogPath, "rb");
    const auto records = log.readVector<SendRecord>(log.read<std::uint64_t>());
    // A write that completes no elementary packet (tables only) marks no progress.
    for (const SendRecord &record : records) {
        std::vector<SendRecord> &milestones = m_milestones[record.stream];
        const std::uint32_t before = milestones.empty() ? 0 : milestones.back().esPackets;
        if (record.esPackets > before)
            milestones.push_back(record);
    }
}

void DeliveryReport::addViewers(const std::string &resultPath)
{
    RecordFile in(resultPath, "rb");
    const auto count = in.read<std::uint32_t>();
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto summary = in.read<ViewerSummary>();
        const auto arrivals = in.readVector<ArrivalRecord>(summary.arrivalCount);
        ++m_viewers;
        const double share = m_sentBytes ? double(summary.payloadBytes) / m_sentBytes : 0.0;
        m_minShare = std::min(m_minShare, share);
        m_completeViewers += summary.payloadBytes == m_sentBytes;
        m_closedViewers += summary.closedByRelay != 0;
        m_badPackets += summary.badPackets;
        addLags(arrivals);
    }
    m_sorted = false;
}

void DeliveryReport::addLags(const std::vector<ArrivalRecord> &arrivals)
{
    for (std::uint32_t stream = 0; stream < StreamCount; ++stream) {
        auto arrival = arrivals.begin();
        for (const SendRecord &milestone : m_milestones[stream]) {
            while (arrival != arrivals.end() &&
                   (arrival->stream != stream || arrival->esPackets < milestone.esPackets))
                ++arrival;
            if (arrival == arrivals.end()) {
                ++m_missedWrites;
                continue;
            }
            m_lagsNs.push_back(arrival->timeNs - milestone.timeNs);
        }
    }
}

double DeliveryReport::lagMs(double quantile)
{
    if (m_lagsNs.empty())
        return NAN;
    if (!m_sorted)
        std::sort(m_lagsNs.begin(), m_lagsNs.end());
    m_sorted = true;
    const auto index = static_cast<std::size_t>(std::lround(quantile * (m_lagsNs.size() - 1)));
    return m_lagsNs[index] / 1e6;
}

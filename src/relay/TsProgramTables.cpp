#include "relay/TsProgramTables.h"

#include "relay/TsPacketAligner.h"

namespace {

constexpr int kPacketSize = TsPacketAligner::kPacketSize;
constexpr int kPatTable = 0x00;
constexpr int kPmtTable = 0x02;
// table_id up to last_section_number.
constexpr int kSectionHeader = 8;
constexpr int kCrcSize = 4;

int word(const uchar *at)
{
    return (at[0] << 8) | at[1];
}

} // namespace

int TsProgramTables::pidOf(const char *packet)
{
    return word(reinterpret_cast<const uchar *>(packet) + 1) & 0x1fff;
}

void TsProgramTables::read(const char *packet)
{
    const auto *bytes = reinterpret_cast<const uchar *>(packet);
    const int pid = pidOf(packet);
    const bool unitStart = bytes[1] & 0x40;
    const int adaptation = (bytes[3] >> 4) & 0x3;
    if (bytes[0] != 0x47 || !unitStart || !(adaptation & 0x1) ||
        (pid != 0 && !m_pmtPids.contains(pid)))
        return;
    int offset = 4;
    if (adaptation & 0x2)
        offset += 1 + bytes[4];
    if (offset >= kPacketSize)
        return;
    offset += 1 + bytes[offset]; // pointer field
    if (offset + kSectionHeader + kCrcSize > kPacketSize)
        return;
    const uchar *section = bytes + offset;
    const int sectionLength = word(section + 1) & 0x0fff;
    if (offset + 3 + sectionLength > kPacketSize || sectionLength < kSectionHeader + kCrcSize - 3)
        return;
    const uchar *end = section + 3 + sectionLength - kCrcSize;
    if (pid == 0 && section[0] == kPatTable)
        readPat(packet, section, end);
    else if (pid != 0 && section[0] == kPmtTable)
        readPmt(packet, section, end);
}

void TsProgramTables::readPat(const char *packet, const uchar *section, const uchar *end)
{
    for (const uchar *entry = section + kSectionHeader; entry + 4 <= end; entry += 4)
        if (word(entry) != 0) // program 0 names the network table
            m_pmtPids.insert(word(entry + 2) & 0x1fff);
    m_pat = QByteArray(packet, kPacketSize);
}

void TsProgramTables::readPmt(const char *packet, const uchar *section, const uchar *end)
{
    const uchar *entry =
        section + kSectionHeader + 4 + (word(section + kSectionHeader + 2) & 0x0fff);
    for (; entry + 5 <= end; entry += 5 + (word(entry + 3) & 0x0fff)) {
        const int pid = word(entry + 1) & 0x1fff;
        m_types.insert(pid, entry[0]);
        m_pmtFor.insert(pid, QByteArray(packet, kPacketSize));
    }
}

QByteArray TsProgramTables::tablesFor(int pid) const
{
    const QByteArray pmt = m_pmtFor.value(pid);
    return m_pat.isEmpty() || pmt.isEmpty() ? QByteArray() : m_pat + pmt;
}

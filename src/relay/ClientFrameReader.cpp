#include "relay/ClientFrameReader.h"

#include <QTextCodec>
#include <QtEndian>

namespace {

constexpr int kOpContinuation = 0x0;
constexpr int kOpText = 0x1;
constexpr int kOpBinary = 0x2;
constexpr int kOpClose = 0x8;
constexpr int kOpPing = 0x9;
constexpr int kOpPong = 0xa;
constexpr int kMaxControlPayload = 125;

bool isValidUtf8(const QByteArray &text)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(text.constData(), text.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

bool ClientFrameReader::fail(QWebSocketProtocol::CloseCode code, const char *text)
{
    m_error = code;
    m_errorText = QString::fromLatin1(text);
    m_pending.clear();
    m_fragments.clear();
    return false;
}

bool ClientFrameReader::feed(const QByteArray &bytes, QVector<Message> &messages)
{
    if (m_error != QWebSocketProtocol::CloseCodeNormal)
        return false;
    m_pending += bytes;
    // Frames are consumed by moving the offset; the buffer is shortened once per read.
    int offset = 0;
    for (;;) {
        int taken = 0;
        if (!takeFrame(offset, taken, messages))
            return false;
        if (taken == 0)
            break;
        offset += taken;
    }
    m_pending.remove(0, offset);
    return true;
}

bool ClientFrameReader::takeFrame(int offset, int &taken, QVector<Message> &messages)
{
    const auto *bytes = reinterpret_cast<const uchar *>(m_pending.constData()) + offset;
    const int available = m_pending.size() - offset;
    if (available < 2)
        return true;
    const bool final = bytes[0] & 0x80;
    const int opcode = bytes[0] & 0x0f;
    if (bytes[0] & 0x70)
        return fail(QWebSocketProtocol::CloseCodeProtocolError, "reserved bits set");
    if (!(bytes[1] & 0x80))
        return fail(QWebSocketProtocol::CloseCodeProtocolError, "unmasked client frame");
    quint64 length = bytes[1] & 0x7f;
    int header = 2;
    if (length == 126) {
        if (available < 4)
            return true;
        length = qFromBigEndian<quint16>(bytes + 2);
        header = 4;
    } else if (length == 127) {
        if (available < 10)
            return true;
        length = qFromBigEndian<quint64>(bytes + 2);
        header = 10;
    }
    const bool control = opcode & 0x8;
    if (control && (!final || length > kMaxControlPayload))
        return fail(QWebSocketProtocol::CloseCodeProtocolError, "fragmented or long control frame");
    if (length + quint64(m_fragments.size()) > quint64(m_maxMessageBytes))
        return fail(QWebSocketProtocol::CloseCodeTooMuchData, "message too large");
    const int frameSize = header + 4 + int(length);
    if (available < frameSize)
        return true;
    const uchar *key = bytes + header;
    QByteArray payload(reinterpret_cast<const char *>(bytes + header + 4), int(length));
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(payload[i] ^ key[i % 4]);
    taken = frameSize;
    return finishFrame(opcode, final, std::move(payload), messages);
}

bool ClientFrameReader::finishFrame(int opcode, bool final, QByteArray payload,
                                    QVector<Message> &messages)
{
    switch (opcode) {
    case kOpPing:
        messages.append({Message::Ping, payload});
        return true;
    case kOpPong:
        messages.append({Message::Pong, payload});
        return true;
    case kOpClose:
        messages.append({Message::Close, payload});
        return true;
    case kOpText:
    case kOpBinary:
        if (m_fragmentedOpcode != 0)
            return fail(QWebSocketProtocol::CloseCodeProtocolError, "new message inside another");
        m_fragmentedOpcode = opcode;
        break;
    case kOpContinuation:
        if (m_fragmentedOpcode == 0)
            return fail(QWebSocketProtocol::CloseCodeProtocolError, "continuation of nothing");
        break;
    default:
        return fail(QWebSocketProtocol::CloseCodeProtocolError, "reserved opcode");
    }
    m_fragments += payload;
    if (!final)
        return true;
    const bool text = m_fragmentedOpcode == kOpText;
    m_fragmentedOpcode = 0;
    QByteArray whole;
    whole.swap(m_fragments);
    if (text && !isValidUtf8(whole))
        return fail(QWebSocketProtocol::CloseCodeWrongDatatype, "text is not UTF-8");
    messages.append({text ? Message::Text : Message::Binary, whole});
    return true;
}

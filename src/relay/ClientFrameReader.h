#pragma once

#include <QByteArray>
#include <QVector>
#include <QWebSocketProtocol>

// Reads the frames a browser sends to the studio, byte by byte as they arrive, and checks them
// against the rules a client must keep: every frame masked, no reserved bits or opcodes, control
// frames short and unfragmented, fragments in order, messages within a size bound, text in valid
// UTF-8. QWebSocket accepts unmasked client frames without a word, so the relay reads its
// viewers' frames itself. Plain data, no Qt object; one per connection.
class ClientFrameReader
{
public:
    struct Message
    {
        enum Kind { Text, Binary, Ping, Pong, Close };
        Kind kind;
        QByteArray payload; // unmasked; for Close the raw body (code and reason)
    };

    explicit ClientFrameReader(int maxMessageBytes) : m_maxMessageBytes(maxMessageBytes) {}

    // Appends the whole messages that `bytes` completes to `messages`. False once the stream
    // broke a rule; error() then tells the close code to answer with, and nothing more is read.
    bool feed(const QByteArray &bytes, QVector<Message> &messages);

    QWebSocketProtocol::CloseCode error() const { return m_error; }
    QString errorText() const { return m_errorText; }

private:
    bool fail(QWebSocketProtocol::CloseCode code, const char *text);
    // Reads the frame at `offset`; `taken` stays 0 while it is incomplete.
    bool takeFrame(int offset, int &taken, QVector<Message> &messages);
    bool finishFrame(int opcode, bool final, QByteArray payload, QVector<Message> &messages);

    int m_maxMessageBytes;
    QByteArray m_pending;   // bytes of the frame not yet complete
    QByteArray m_fragments; // data of the message being fragmented
    int m_fragmentedOpcode = 0;
    QWebSocketProtocol::CloseCode m_error = QWebSocketProtocol::CloseCodeNormal;
    QString m_errorText;
};

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

// A WebSocket client written against the wire format, for what QWebSocket
// cannot do in a test: bind a chosen loopback source address (so the relay sees
// distinct viewers) and stop reading altogether (a stalled browser).
class RawWebSocketClient : public QObject
{
    Q_OBJECT
public:
    bool open(const QHostAddress &local, quint16 port, const QString &path, int timeoutMs = 5000)
    {
        if (!m_socket.bind(local))
            return false;
        if (m_smallReceiveBuffer)
            m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                     kSmallReceiveBufferBytes);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                             timeoutMs)) {
            qWarning() << "connect failed:" << m_socket.errorString();
            return false;
        }
        m_socket.write("GET " + path.toUtf8() +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                       "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n");
        QElapsedTimer timer;
        timer.start();
        while (!m_buffer.contains("\r\n\r\n") && timer.elapsed() < timeoutMs) {
            QTest::qWait(10); // the server under test runs on this thread's event loop
            m_buffer += m_socket.readAll();
        }
        const int end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0 || !m_buffer.startsWith("HTTP/1.1 101")) {
            qWarning() << "handshake failed:" << m_socket.errorString() << m_buffer.left(200);
            return false;
        }
        m_buffer.remove(0, end + 4);
        if (m_stalledFromStart) {
            stall();
            return true;
        }
        connect(&m_socket, &QTcpSocket::readyRead, this, &RawWebSocketClient::readFrames);
        readFrames();
        return true;
    }

    // Stops taking bytes off the socket, so the kernel buffers and then the
    // sender's queue fill up, as with a browser that froze.
    void stall()
    {
        disconnect(&m_socket, &QTcpSocket::readyRead, this, &RawWebSocketClient::readFrames);
        m_socket.setReadBufferSize(1);
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                 kSmallReceiveBufferBytes);
    }

    // Before open(): takes nothing past the handshake. Qt's socket would otherwise empty the
    // kernel into its own unbounded buffer while open() waits for the handshake, and a head
    // start sent meanwhile could arrive whole before stall() is ever called.
    void stallFromStart()
    {
        m_stalledFromStart = true;
        m_socket.setReadBufferSize(4096);
    }

    // Before open(), for a client that will stall() and still send: the kernel's receive buffer
    // is as small as stall() makes it from the handshake on. Shrunk only later, below what the
    // peer was already let send, the kernel drops every segment that comes, the acknowledgements
    // and window updates with them, and the client's own sending stops for good: the relay never
    // reads enough to act.
    void smallReceiveBuffer() { m_smallReceiveBuffer = true; }

    void sendText(const QByteArray &utf8) { sendRaw(clientFrame(0x1, utf8)); }

    void sendRaw(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    // A final frame as a browser sends it (masked), or, for testing the server, unmasked.
    static QByteArray clientFrame(int opcode, const QByteArray &payload, bool masked = true)
    {
        QByteArray frame;
        frame.append(char(0x80 | opcode));
        const char maskBit = masked ? char(0x80) : char(0);
        if (payload.size() < 126) {
            frame.append(char(maskBit | payload.size()));
        } else {
            frame.append(char(maskBit | 126));
            frame.append(char(payload.size() >> 8)).append(char(payload.size() & 0xff));
        }
        if (!masked)
            return frame + payload;
        const quint32 mask = QRandomGenerator::global()->generate();
        char key[4];
        qToBigEndian(mask, key);
        frame.append(key, 4);
        for (int i = 0; i < payload.size(); ++i)
            frame.append(char(payload[i] ^ key[i % 4]));
        return frame;
    }

    QTcpSocket &socket() { return m_socket; }

signals:
    void textReceived(const QString &text);

public:
    QList<QByteArray> binaryMessages;
    QStringList textMessages;
    int closeCode = -1; // from the server's close frame
    qint64 binaryBytes = 0;

private:
    static constexpr int kSmallReceiveBufferBytes = 4096;

    void readFrames()
    {
        m_buffer += m_socket.readAll();
        for (;;) {
            if (m_buffer.size() < 2)
                return;
            const auto *bytes = reinterpret_cast<const uchar *>(m_buffer.constData());
            const int opcode = bytes[0] & 0x0f;
            const bool fin = bytes[0] & 0x80;
            qint64 length = bytes[1] & 0x7f;
            int header = 2;
            if (length == 126) {
                if (m_buffer.size() < 4)
                    return;
                length = qFromBigEndian<quint16>(bytes + 2);
                header = 4;
            } else if (length == 127) {
                if (m_buffer.size() < 10)
                    return;
                length = qint64(qFromBigEndian<quint64>(bytes + 2));
                header = 10;
            }
            if (m_buffer.size() < header + length)
                return;
            const QByteArray payload = m_buffer.mid(header, int(length));
            m_buffer.remove(0, header + int(length));
            if (opcode == 0x8 && payload.size() >= 2)
                closeCode = qFromBigEndian<quint16>(payload.constData());
            if (opcode == 0x1 || opcode == 0x2)
                m_messageOpcode = opcode;
            if (opcode <= 0x2) {
                m_message += payload;
                if (fin)
                    finishMessage();
            }
        }
    }

    void finishMessage()
    {
        if (m_messageOpcode == 0x2) {
            binaryMessages.append(m_message);
            binaryBytes += m_message.size();
        } else {
            textMessages.append(QString::fromUtf8(m_message));
            emit textReceived(textMessages.last());
        }
        m_message.clear();
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
    bool m_stalledFromStart = false;
    bool m_smallReceiveBuffer = false;
    QByteArray m_message;
    int m_messageOpcode = 0;
};

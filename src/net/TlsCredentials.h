#pragma once

#include <QDateTime>
#include <QSslConfiguration>
#include <QString>

// The certificate chain and private key a TLS listener serves, read from two PEM files. A
// renewal (certbot and the like replace the files) is picked up by the next connection: each
// call of configuration() compares the files' modification times and sizes with what was read,
// two stat calls, and reads them again when they changed. Files that do not load (half written,
// or a key that does not match) are logged once and the last good pair stays in use, so a
// renewal never takes the service down and connected clients keep their sessions. Thread of
// the listener.
class TlsCredentials
{
public:
    TlsCredentials(const QString &certificatePath, const QString &keyPath);

    // Reads both files; false, with `error`, when they do not make a usable pair.
    bool load(QString *error);

    // The server configuration for a new connection, from the files as they are now.
    QSslConfiguration configuration();

private:
    struct Stamp
    {
        QDateTime certificate;
        QDateTime key;
        qint64 certificateSize = -1;
        qint64 keySize = -1;
        bool operator==(const Stamp &other) const;
    };
    Stamp stampNow() const;
    bool read(QSslConfiguration *configuration, QString *error) const;

    QString m_certificatePath;
    QString m_keyPath;
    QSslConfiguration m_configuration;
    Stamp m_loaded;
    Stamp m_refused; // the files last found unusable, so they are logged once
};

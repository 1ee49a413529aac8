#include "net/TlsCredentials.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>

#include <memory>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

// Qt would find out only at the first handshake, and every client would fail.
bool keyMatches(const QSslCertificate &certificate, const QByteArray &keyPem)
{
    const QByteArray der = certificate.toDer();
    const auto *bytes = reinterpret_cast<const unsigned char *>(der.constData());
    std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &bytes, der.size()),
                                                     &X509_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())), &BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
        &EVP_PKEY_free);
    return x509 && key && X509_check_private_key(x509.get(), key.get()) == 1;
}

} // namespace

TlsCredentials::TlsCredentials(const QString &certificatePath, const QString &keyPath)
    : m_certificatePath(certificatePath), m_keyPath(keyPath)
{}

bool TlsCredentials::Stamp::operator==(const Stamp &other) const
{
    return certificate == other.certificate && key == other.key &&
           certificateSize == other.certificateSize && keySize == other.keySize;
}

TlsCredentials::Stamp TlsCredentials::stampNow() const
{
    const QFileInfo certificate(m_certificatePath);
    const QFileInfo key(m_keyPath);
    return {certificate.lastModified(), key.lastModified(), certificate.size(), key.size()};
}

bool TlsCredentials::load(QString *error)
{
    const Stamp stamp = stampNow();
    if (!read(&m_configuration, error))
        return false;
    m_loaded = stamp;
    return true;
}

QSslConfiguration TlsCredentials::configuration()
{
    const Stamp stamp = stampNow();
    if (stamp == m_loaded || stamp == m_refused)
        return m_configuration;
    QString error;
    QSslConfiguration renewed;
    if (!read(&renewed, &error)) {
        m_refused = stamp;
        qWarning().noquote() << "TLS: keeping the certificate in use:" << error;
        return m_configuration;
    }
    m_configuration = renewed;
    m_loaded = stamp;
    qInfo().noquote() << "TLS: certificate renewed, for"
                      << m_configuration.localCertificate().subjectDisplayName() << "until"
                      << m_configuration.localCertificate().expiryDate().toString(Qt::ISODate);
    return m_configuration;
}

bool TlsCredentials::read(QSslConfiguration *configuration, QString *error) const
{
    if (!QSslSocket::supportsSsl()) {
        *error = "this system's Qt has no TLS support (OpenSSL not found)";
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(m_certificatePath);
    if (chain.isEmpty()) {
        *error = "no PEM certificate in " + m_certificatePath;
        return false;
    }
    QFile keyFile(m_keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = "cannot read " + m_keyPath + ": " + keyFile.errorString();
        return false;
    }
    const QByteArray pem = keyFile.readAll();
    QSslKey key(pem, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Ec);
    if (key.isNull()) {
        *error = "no unencrypted RSA or EC private key in " + m_keyPath;
        return false;
    }
    if (!keyMatches(chain.first(), pem)) {
        *error = m_keyPath + " is not the key of the certificate in " + m_certificatePath;
        return false;
    }
    QSslConfiguration result = QSslConfiguration::defaultConfiguration();
    result.setLocalCertificateChain(chain);
    result.setPrivateKey(key);
    result.setPeerVerifyMode(QSslSocket::VerifyNone);
    *configuration = result;
    return true;
}

#include "relay/PresenterIdentity.h"

#include <QRandomGenerator>

#include <openssl/evp.h>

namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Context newContext()
{
    return Context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
}

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

PresenterIdentity PresenterIdentity::generate()
{
    QByteArray secret(kSecretBytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(secret.begin(), secret.end());
    return fromSecret(secret);
}

PresenterIdentity PresenterIdentity::fromSecret(const QByteArray &secret)
{
    PresenterIdentity identity;
    if (secret.size() != kSecretBytes)
        return identity;
    EVP_PKEY *key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes(secret),
                                                 size_t(secret.size()));
    if (key)
        identity.m_key.reset(key, &EVP_PKEY_free);
    return identity;
}

QByteArray PresenterIdentity::secret() const
{
    if (!m_key)
        return QByteArray();
    QByteArray out(kSecretBytes, Qt::Uninitialized);
    size_t size = size_t(out.size());
    if (EVP_PKEY_get_raw_private_key(m_key.get(), reinterpret_cast<unsigned char *>(out.data()),
                                     &size) != 1)
        return QByteArray();
    out.resize(int(size));
    return out;
}

QByteArray PresenterIdentity::publicKey() const
{
    if (!m_key)
        return QByteArray();
    QByteArray out(kPublicKeyBytes, Qt::Uninitialized);
    size_t size = size_t(out.size());
    if (EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char *>(out.data()),
                                    &size) != 1)
        return QByteArray();
    out.resize(int(size));
    return out;
}

QByteArray PresenterIdentity::sign(const QByteArray &message) const
{
    if (!m_key)
        return QByteArray();
    const Context context = newContext();
    QByteArray signature(kSignatureBytes, Qt::Uninitialized);
    size_t size = size_t(signature.size());
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                       bytes(message), size_t(message.size())) != 1)
        return QByteArray();
    signature.resize(int(size));
    return signature;
}

bool PresenterIdentity::verify(const QByteArray &publicKey, const QByteArray &message,
                               const QByteArray &signature)
{
    if (publicKey.size() != kPublicKeyBytes || signature.size() != kSignatureBytes)
        return false;
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey),
                                    size_t(publicKey.size())),
        &EVP_PKEY_free);
    const Context context = newContext();
    return key && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), bytes(signature), size_t(signature.size()),
                            bytes(message), size_t(message.size())) == 1;
}

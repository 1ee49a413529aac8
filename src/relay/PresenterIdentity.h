#pragma once

#include <QByteArray>

#include <memory>

struct evp_pkey_st;

// The studio's presenter credential: an Ed25519 key pair. The secret half stays in the studio's
// settings and never travels; the relay sees only the public key and signatures over its own
// fresh challenges, so nothing a listener on the way captures lets anyone else present. Copies
// share the key. Any thread; OpenSSL's libcrypto does the work.
class PresenterIdentity
{
public:
    static constexpr int kSecretBytes = 32;
    static constexpr int kPublicKeyBytes = 32;
    static constexpr int kSignatureBytes = 64;

    // No key: isValid() is false, signatures are empty.
    PresenterIdentity() = default;
    // A new key from the operating system's random source.
    static PresenterIdentity generate();
    // The key whose secret() was `secret`; invalid unless it has kSecretBytes bytes.
    static PresenterIdentity fromSecret(const QByteArray &secret);

    bool isValid() const { return m_key != nullptr; }
    QByteArray secret() const;
    QByteArray publicKey() const;
    // Empty when invalid.
    QByteArray sign(const QByteArray &message) const;

    // False for a key or signature of the wrong size as well as a wrong signature.
    static bool verify(const QByteArray &publicKey, const QByteArray &message,
                       const QByteArray &signature);

private:
    std::shared_ptr<evp_pkey_st> m_key;
};

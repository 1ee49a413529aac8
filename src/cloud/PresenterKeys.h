#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// The presenters an operator lets open rooms on a relay (--presenters FILE): one base64 Ed25519
// public key per line, as the studio logs it; blank lines and lines from '#' on are ignored. No
// file: anyone may open rooms with a key of their own. Read once at start.
class PresenterKeys
{
public:
    // False, with `error` naming the file and line, when the file cannot be read or a line is
    // no key.
    bool load(const QString &path, QString *error);
    // True for every key while no file was loaded.
    bool allows(const QByteArray &publicKey) const;
    bool restricted() const { return m_restricted; }
    int size() const { return int(m_keys.size()); }

private:
    bool m_restricted = false;
    QSet<QByteArray> m_keys;
};

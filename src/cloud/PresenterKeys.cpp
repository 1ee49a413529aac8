#include "cloud/PresenterKeys.h"

#include "relay/PresenterIdentity.h"

#include <QFile>

bool PresenterKeys::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = path + ": " + file.errorString();
        return false;
    }
    QSet<QByteArray> keys;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QByteArray line = file.readLine();
        const int comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const auto decoded =
            QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != PresenterIdentity::kPublicKeyBytes) {
            *error = QString("%1:%2: not a presenter key").arg(path).arg(number);
            return false;
        }
        keys.insert(decoded.decoded);
    }
    m_keys = keys;
    m_restricted = true;
    return true;
}

bool PresenterKeys::allows(const QByteArray &publicKey) const
{
    return !m_restricted || m_keys.contains(publicKey);
}

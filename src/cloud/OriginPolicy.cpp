#include "cloud/OriginPolicy.h"

namespace {

QString normalised(QString origin)
{
    while (origin.endsWith('/'))
        origin.chop(1);
    return origin.toLower();
}

int defaultPort(const QString &scheme)
{
    return scheme == "https" || scheme == "wss" ? 443 : 80;
}

} // namespace

OriginPolicy::OriginPolicy(const QStringList &allowed)
{
    for (const QString &origin : allowed)
        m_allowed << normalised(origin.trimmed());
}

bool OriginPolicy::allows(const QString &origin, const QUrl &requestUrl) const
{
    if (origin.isEmpty())
        return true;
    if (m_allowed.contains(normalised(origin)))
        return true;
    const QUrl page(origin);
    if (!page.isValid() || page.host().isEmpty())
        return false;
    // A Host header without a port names the default port of the scheme the browser connected
    // with, which is the page's own: an https page's wss lands on 443 whether the relay serves
    // TLS itself or a proxy does it for the relay, which then sees only "ws".
    const int pagePort = page.port(defaultPort(page.scheme()));
    return page.host().compare(requestUrl.host(), Qt::CaseInsensitive) == 0 &&
           pagePort == requestUrl.port(pagePort);
}

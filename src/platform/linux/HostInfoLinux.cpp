// Host name from the kernel, DNS servers and domain from the resolver
// configuration (/etc/resolv.conf, or the file named by VALMORA_RESOLV_CONF).
#include "platform/HostInfo.h"

#include <QFile>
#include <QHostAddress>

#include <cerrno>
#include <climits>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

namespace {

QString resolvConfPath()
{
    const QString path = qEnvironmentVariable("VALMORA_RESOLV_CONF");
    return path.isEmpty() ? u"/etc/resolv.conf"_s : path;
}

QString kernelHostName()
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return QString();
    return QString::fromUtf8(buffer);
}

// The resolver's own rules: "nameserver", "domain" and "search" lines; "#" and
// ";" start comments; a later "domain" or "search" line replaces an earlier one.
void readResolvConf(const QByteArray &text, QStringList &servers, QString &domain)
{
    QString search;
    for (const QByteArray &raw : text.split('\n')) {
        QByteArray line = raw;
        const qsizetype comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        const qsizetype semicolon = line.indexOf(';');
        if (semicolon >= 0)
            line.truncate(semicolon);
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2)
            continue;
        const QString value = QString::fromUtf8(words.at(1));
        if (words.first() == "nameserver") {
            QHostAddress address;
            // Scoped IPv6 addresses ("fe80::1%eth0") stay as written.
            if (address.setAddress(value))
                servers.append(value);
        } else if (words.first() == "domain") {
            domain = value;
            search.clear();
        } else if (words.first() == "search") {
            search = value;
            domain.clear();
        }
    }
    if (domain.isEmpty())
        domain = search;
}

class TLinuxHostInfo final : public THostInfo
{
public:
    QString HostName() const override { return kernelHostName(); }

    TPlatformNetworkParams NetworkParams() const override
    {
        TPlatformNetworkParams params;
        QFile file(resolvConfPath());
        if (!file.open(QIODevice::ReadOnly)) {
            params.error = file.error() == QFileDevice::OpenError && !file.exists() ? ENOENT : EACCES;
            return params;
        }
        // A resolver configuration is a few lines; anything huge is not one.
        const QByteArray text = file.read(1 << 20);
        QStringList servers;
        QString domain;
        readResolvConf(text, servers, domain);
        if (servers.isEmpty())
            return params;
        const QString full = kernelHostName();
        const qsizetype dot = full.indexOf(u'.');
        params.hostName = dot < 0 ? full : full.left(dot);
        params.domainName = !domain.isEmpty() || dot < 0 ? domain : full.mid(dot + 1);
        params.dnsServers = servers;
        return params;
    }
};

} // namespace

const THostInfo &SystemHostInfo()
{
    static const TLinuxHostInfo info;
    return info;
}

} // namespace valmora::platform

// valmora-cli scan: enumerate one computer source and list the names it finds.
#include "CheckOutput.h"
#include "CliAlerts.h"
#include "CliCommand.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "drives/WmiProviders.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/Exception.h"
#include "foundation/Options.h"
#include "refresh/RefreshThread.h"

#include <QHostAddress>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

namespace {

const QString Help = u"Usage: valmora-cli scan [--source this|network|ip] [--ranges A-B,...] [--dns-server ADDRESS[:PORT]]\n"
                     "                        [--wait MS] [--at-once N] [--recordings DIR] [--alerts] [--json] [--list]\n\n"
                     "Runs one refresh cycle of a computer source: enumerates it, checks every computer\n"
                     "it names as the monitor does (ping, drives, state) and saves their readouts, then\n"
                     "prints each computer's state and drives. With --list it only prints the names.\n\n"
                     "  --source this|network|ip  this computer, the network neighbourhood (WS-Discovery),\n"
                     "                            or reverse DNS lookups over IPv4 ranges; default: the setting\n"
                     "  --ranges A-B,...          the IP ranges (an address alone is a range of one);\n"
                     "                            default: the ranges of the settings\n"
                     "  --dns-server ADDR[:PORT]  the DNS server of the lookups; default: the first server of\n"
                     "                            the resolver configuration\n"
                     "  --wait MS                 how long replies of the network are collected (default 3000)\n"
                     "  --at-once N               check up to N computers at the same time (1..256);\n"
                     "                            default: the setting \"ChecksAtOnce\" (16)\n"
                     "  --recordings DIR          read the computers from DIR/<computer>.json (or $VALMORA_RECORDINGS)\n"
                     "  --alerts                  raise the alerts of the cycle through the channels of the settings\n"
                     "  --json                    the checked computers as JSON\n"
                     "  --list                    print the names only, one per line\n\n"
                     "Exit status: 0 every computer \"Good\" (or listed), 1 any is not, or the source could\n"
                     "not be enumerated, 2 bad arguments.\n"_s;

struct Arguments
{
    QString source;
    QStringList ranges;
    bool rangesGiven = false;
    QString dnsServer;
    int waitMs = 3000;
    int atOnce = TOptions::ReadChecksAtOnce();
    bool list = false;
    bool json = false;
    bool alerts = false;
    QString recordings = drives::RecordingsFolderFromEnvironment();
};

// "192.0.2.53", "192.0.2.53:5353", "[2001:db8::35]:5353" or "2001:db8::35".
bool parseServer(const QString &text, QString &address, std::uint16_t &port)
{
    port = 53;
    QString host = text;
    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        if (close + 1 < text.size()) {
            if (text.at(close + 1) != u':')
                return false;
            portText = text.mid(close + 2);
        }
    } else if (text.count(u':') == 1) {
        host = text.section(u':', 0, 0);
        portText = text.section(u':', 1);
    }
    if (!portText.isNull()) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return false;
        port = static_cast<std::uint16_t>(value);
    }
    QHostAddress check;
    if (!check.setAddress(host))
        return false;
    address = host;
    return true;
}

int listNames(const TNNBase &source)
{
    QString out;
    for (int i = 0; i < source.ComputerCount(); ++i)
        out += source.ComputerName(i) + u'\n';
    Print(out);
    return ExitOk;
}

int run(const QStringList &args)
{
    Arguments a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const auto value = [&](QString &into) {
            if (i + 1 >= args.size()) {
                PrintError(u"scan: %1 needs a value"_s.arg(arg));
                return false;
            }
            into = args.at(++i);
            return true;
        };
        QString text;
        if (arg == u"-h"_s || arg == u"--help"_s) {
            Print(Help);
            return ExitOk;
        } else if (arg == u"--list"_s) {
            a.list = true;
        } else if (arg == u"--json"_s) {
            a.json = true;
        } else if (arg == u"--alerts"_s) {
            a.alerts = true;
        } else if (arg == u"--recordings"_s) {
            if (!value(a.recordings))
                return ExitUsage;
        } else if (arg == u"--source"_s) {
            if (!value(a.source))
                return ExitUsage;
        } else if (arg == u"--ranges"_s) {
            if (!value(text))
                return ExitUsage;
            a.ranges = text.split(u',', Qt::SkipEmptyParts);
            for (QString &r : a.ranges)
                r = r.trimmed();
            a.rangesGiven = true;
        } else if (arg == u"--dns-server"_s) {
            if (!value(a.dnsServer))
                return ExitUsage;
        } else if (arg == u"--wait"_s) {
            if (!value(text))
                return ExitUsage;
            bool ok = false;
            a.waitMs = text.toInt(&ok);
            if (!ok || a.waitMs < 100 || a.waitMs > 60000) {
                PrintError(u"scan: --wait takes milliseconds from 100 to 60000, not \"%1\""_s.arg(text));
                return ExitUsage;
            }
        } else if (arg == u"--at-once"_s) {
            if (!value(text))
                return ExitUsage;
            if (const QString problem = AtOnceProblem(text, a.atOnce); !problem.isEmpty()) {
                PrintError(u"scan: "_s + problem);
                return ExitUsage;
            }
        } else {
            PrintError(u"scan: unknown option \"%1\"; valmora-cli scan --help lists the options"_s.arg(arg));
            return ExitUsage;
        }
    }
    if (a.source.isEmpty()) {
        const int kind = TOptions::ReadSearchKind();
        a.source = kind == 0 ? u"this"_s : kind == 2 ? u"ip"_s : u"network"_s;
    }

    TRefreshThreadParts parts;
    parts.Echo = CreateSystemIcmpEcho();
    parts.ReadDrives = RecordingAwareReader(a.recordings);
    parts.LocalComputerName = LocalComputerName();
    const auto cycle = [&](int kind) {
        TRefreshThread thread(std::move(parts));
        thread.SetSearchKind(kind);
        thread.SetChecksAtOnce(a.atOnce);
        thread.DomainUser = TOptions::ReadUser();
        thread.DomainPassword = TOptions::ReadUserP();
        thread.DataFolder = DataPaths::DataFolder();
        thread.OnStatusText = [](const QString &text) {
            if (!text.isEmpty())
                PrintError(text);
        };
        const auto batch = thread.RunOneCycle();
        if (a.alerts)
            RaiseAlerts(batch->CheckedComputers, batch->RemovedComputerNames);
        return PrintCheckedComputers(batch->CheckedComputers, a.json);
    };

    if (a.source == u"this"_s) {
        auto source = std::make_unique<TThisComputer>();
        if (a.list) {
            source->Refresh();
            return listNames(*source);
        }
        parts.ThisComputerSource = std::move(source);
        return cycle(0);
    }
    if (a.source == u"network"_s) {
        platform::TWsDiscoveryOptions options;
        options.collectMs = a.waitMs;
        auto source = std::make_unique<TNetworkNeigborhoodComputes>(platform::CreateNetworkEnumerator(options));
        if (!a.list) {
            parts.NetworkSource = std::move(source);
            return cycle(1);
        }
        if (!source->Refresh()) {
            PrintError(u"scan: the network neighbourhood cannot be enumerated: %1"_s.arg(source->OpenError()));
            return ExitFlagged;
        }
        return listNames(*source);
    }
    if (a.source == u"ip"_s) {
        const QStringList ranges = a.rangesGiven ? a.ranges : TOptions::ReadIPRanges();
        if (ranges.isEmpty()) {
            PrintError(u"scan: no IP ranges; give --ranges or set them in the options"_s);
            return ExitUsage;
        }
        for (const QString &r : ranges) {
            try {
                const TRange range(r);
                if (range.IsReversed()) {
                    PrintError(u"scan: the range \"%1\" ends below its first address"_s.arg(r));
                    return ExitUsage;
                }
            } catch (const std::exception &e) {
                PrintError(u"scan: bad range \"%1\": %2"_s.arg(r, ExceptionMessage(e)));
                return ExitUsage;
            }
        }
        auto owned = std::make_unique<TIPNetworkNeigborhoodComputes>();
        TIPNetworkNeigborhoodComputes &source = *owned;
        if (!a.dnsServer.isEmpty()) {
            QString address;
            std::uint16_t port = 53;
            if (!parseServer(a.dnsServer, address, port)) {
                PrintError(u"scan: \"%1\" is no DNS server address (ADDRESS or ADDRESS:PORT)"_s.arg(a.dnsServer));
                return ExitUsage;
            }
            source.Resolver().SetServer(address, port);
        }
        if (source.Resolver().ServerAddress().isEmpty()) {
            PrintError(u"scan: no DNS server is known; give --dns-server"_s);
            return ExitFlagged;
        }
        source.SetIPRanges(ranges);
        if (!a.list) {
            parts.IPSource = std::move(owned);
            return cycle(2);
        }
        source.Refresh();
        return listNames(source);
    }
    PrintError(u"scan: unknown source \"%1\" (this, network or ip)"_s.arg(a.source));
    return ExitUsage;
}

CliRegistration reg{{u"scan"_s, u"run one refresh cycle of a computer source, or list its names"_s, &run}};

} // namespace

} // namespace valmora::cli

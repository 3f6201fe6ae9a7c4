// valmora-monitor: the refresh engine without a window, for servers. It checks
// the computers of the settings continuously, keeps their readouts and states
// in the data folder as the desktop program does, and serves Prometheus
// metrics over HTTP.

#include "MetricsServer.h"
#include "Monitor.h"

#include "drivedata/Verdicts.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/LogStart.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "foundation/Settings.h"
#include "platform/ServiceSignals.h"
#include "refresh/DataFolderLock.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const QString Help =
    u"Usage: valmora-monitor [--settings FILE] [--foreground]\n\n"
    "Checks the computers of the settings at their interval without a window, keeps\n"
    "their readouts and states in the data folder, and serves their metrics for\n"
    "Prometheus at http://ADDRESS/metrics (setting \"MetricsListen\", default\n"
    "127.0.0.1:9748). SIGTERM or SIGINT ends it once the checks in flight end;\n"
    "SIGHUP reads the settings again and starts a new cycle.\n\n"
    "  --settings FILE  the settings in the text form of the settings file\n"
    "                   (default: the machine's, %1)\n"
    "  --foreground     write the log to standard error as well (for the journal)\n"
    "  --version        print the version\n"_s;

void printError(const QString &message)
{
    std::fprintf(stderr, "valmora-monitor: %s\n", qUtf8Printable(message));
    std::fflush(stderr);
}

QString defaultSettingsFile()
{
    return valmora::TWindowsFolders::MachineConfigFolder() + u"valmora/monitor.reg"_s;
}

// The listen address of the settings; the default when unset.
bool readListenAddress(valmora::TListenAddress &address)
{
    const QString text = valmora::TRegistryHelper::ReadString(valmora::TOptions::KeyPath, u"MetricsListen"_s,
                                                              valmora::TRootKey::CurrentUser, address.ToString());
    if (const QString problem = valmora::TListenAddress::Parse(text, address); !problem.isEmpty()) {
        printError(u"setting \"MetricsListen\": "_s + problem);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"valmora-monitor"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(VALMORA_VERSION));

    QString settings;
    bool foreground = false;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"-h"_s || arg == u"--help"_s) {
            std::fputs(qUtf8Printable(Help.arg(defaultSettingsFile())), stdout);
            return ExitOk;
        }
        if (arg == u"-v"_s || arg == u"--version"_s) {
            std::printf("valmora-monitor %s\n", VALMORA_VERSION);
            return ExitOk;
        }
        if (arg == u"--foreground"_s) {
            foreground = true;
        } else if (arg == u"--settings"_s || arg.startsWith(u"--settings="_s)) {
            if (arg.startsWith(u"--settings="_s)) {
                settings = arg.mid(11);
            } else if (i + 1 < args.size()) {
                settings = args.at(++i);
            } else {
                printError(u"--settings needs a file"_s);
                return ExitUsage;
            }
            const QFileInfo file(settings);
            if (!file.isFile() || !file.isReadable()) {
                printError(u"the settings file %1 %2"_s.arg(settings, file.exists() ? u"cannot be read"_s
                                                                                     : u"does not exist"_s));
                return ExitUsage;
            }
            settings = file.absoluteFilePath();
        } else {
            printError(u"unknown option \"%1\"; valmora-monitor --help lists the options"_s.arg(arg));
            return ExitUsage;
        }
    }
    valmora::TRegistryStore::SetUserFileName(settings.isEmpty() ? defaultSettingsFile() : settings);

    auto &log = valmora::XLogSystem();
    valmora::StartLog(log);
    if (foreground)
        log.SetEcho([](const QString &line) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(line));
            std::fflush(stderr);
        });

    const QString dataFolder = valmora::DataPaths::DataFolder();
    valmora::TDataFolderLock lock(dataFolder);
    if (!lock.TryLock()) {
        printError(lock.Problem());
        log.LogException(lock.Problem(), 0);
        return ExitFailed;
    }
    valmora::TListenAddress address;
    if (!readListenAddress(address))
        return ExitUsage;

    valmora::SetVerdictRules(valmora::ProgramVerdictRules(dataFolder, valmora::TSettings::Current()->SectorWarnings));
    valmora::TMonitor monitor(dataFolder);
    valmora::TMetricsServer server(monitor.Metrics());
    QString error;
    if (!server.Listen(address, &error)) {
        printError(error);
        log.LogException(error, 0);
        return ExitFailed;
    }
    std::fprintf(stderr, "valmora-monitor: metrics at http://%s/metrics, data folder %s\n",
                 qUtf8Printable((valmora::TListenAddress{address.Host, server.Port()}).ToString()),
                 qUtf8Printable(dataFolder));
    std::fflush(stderr);

    const std::unique_ptr<valmora::platform::TServiceSignals> requests = valmora::platform::CreateServiceSignals();
    requests->OnStop = [&] {
        log.LogText(u"Monitor stop"_s, 0);
        monitor.Stop();
        server.Close();
        QCoreApplication::quit();
    };
    requests->OnReload = [&] {
        // A listen address changed by hand takes effect at the next start;
        // the cycles take every other setting now.
        monitor.Reload();
    };
    monitor.Start();
    const int code = QCoreApplication::exec();
    monitor.Stop();
    valmora::FlushVerdictRules();
    return code == 0 ? ExitOk : ExitFailed;
}

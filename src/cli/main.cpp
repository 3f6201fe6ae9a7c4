// valmora-cli: the monitoring engine without a window.
#include "CliCommand.h"
#include "DriveOutput.h"

#include "foundation/Environment.h"
#include "foundation/LogStart.h"
#include "foundation/LogSystem.h"
#include "platform/SessionKeyring.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

std::vector<CliCommand> &Commands()
{
    static std::vector<CliCommand> commands;
    return commands;
}

void PrintError(const QString &message)
{
    std::fprintf(stderr, "valmora-cli: %s\n", qUtf8Printable(message));
}

void Print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

namespace {

void printUsage()
{
    QString text = u"Usage: valmora-cli COMMAND [options]\n\n"
                   "Valmora: hard-drive health of the computers of a network, without a window.\n\n"
                   "Commands:\n"_s;
    auto commands = Commands();
    std::sort(commands.begin(), commands.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
    for (const CliCommand &c : commands)
        text += u"  "_s + c.name.leftJustified(12) + u' ' + c.summary + u'\n';
    text += u"\nOptions:\n  -h, --help     this text; COMMAND --help tells about a command\n"
            "  -v, --version  the version\n"
            "  --settings     where settings and data are kept\n"_s;
    Print(text);
}

void printSettings()
{
    Print(u"data folder: "_s + TWindowsFolders::SpecialFolder(TWindowsFolders::CommonAppData)
          + u"Quillmoor/Valmora/\n"_s);
    Print(u"user settings: "_s + TWindowsFolders::UserConfigFolder() + u"valmora/user.reg\n"_s);
    Print(u"machine settings: "_s + TWindowsFolders::MachineConfigFolder() + u"valmora/machine.reg\n"_s);
    Print(u"log folder: "_s + TWindowsFolders::SpecialFolder(TWindowsFolders::CommonAppData)
          + u"Quillmoor/Valmora/Log/\n"_s);
    const TTraceSwitch trace = ReadTraceSwitch();
    Print(u"log trace: "_s + (trace.enabled ? u"on"_s : u"off (exception entries only)"_s) + u'\n');
    if (!trace.problem.isEmpty())
        PrintError(trace.problem);
}

} // namespace

} // namespace valmora::cli

int main(int argc, char *argv[])
{
    using namespace valmora::cli;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"valmora-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(VALMORA_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.first() == u"-h"_s || args.first() == u"--help"_s) {
        printUsage();
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    const QString first = args.takeFirst();
    if (first == u"-v"_s || first == u"--version"_s) {
        Print(u"valmora-cli "_s + QCoreApplication::applicationVersion() + u'\n');
        return ExitOk;
    }
    if (first == u"--settings"_s) {
        printSettings();
        return ExitOk;
    }
    for (const CliCommand &c : Commands()) {
        if (c.name != first)
            continue;
        // What reaches the log reaches the terminal too: a failure is never
        // only in a file the user may not know of.
        auto &log = valmora::XLogSystem();
        valmora::StartLog(log);
        log.SetEcho([](const QString &line) { PrintError(line); });
        valmora::InstallPasswordVault(valmora::platform::CreateSessionKeyring());
        InstallVerdictRules();
        const int code = c.run(args);
        FinishVerdictRules();
        return code;
    }
    PrintError(u"unknown command \"%1\"; valmora-cli --help lists the commands"_s.arg(first));
    return ExitUsage;
}

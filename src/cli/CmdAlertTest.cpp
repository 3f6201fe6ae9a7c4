// valmora-cli alert-test: a test alert through every channel of the settings.
#include "CliArgs.h"
#include "CliCommand.h"

#include "alerts/Alerter.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

namespace {

const QString help =
    u"Usage: valmora-cli alert-test [--computer NAME]\n\n"
    "Sends a test alert through every alert channel of the settings (e-mail, webhook,\n"
    "command; the desktop notice is the desktop program's) and tells for each whether\n"
    "it went out or what the server or program answered.\n"
    "--computer NAME names the computer in the alert (default: this computer).\n"
    "Exit 0 when every channel took the alert, 1 when one did not or none is set,\n"
    "2 for usage errors.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {}, {u"computer"_s});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || !args.positional.isEmpty()) {
        PrintError(args.error.isEmpty() ? u"alert-test takes no arguments"_s : args.error);
        return ExitUsage;
    }
    const alerts::TAlertSettings settings = alerts::TAlertSettings::Read();
    const QStringList problems = settings.Problems();
    for (const QString &problem : problems)
        PrintError(u"alert-test: "_s + problem);
    if (!problems.isEmpty())
        return ExitFlagged;
    const auto channels = alerts::CreateChannels(settings);
    if (channels.empty()) {
        PrintError(u"alert-test: no alert channel is set (\"SmtpUrl\", \"WebhookUrl\" or \"Command\" under %1)"_s.arg(
            alerts::TAlertSettings::KeyPath));
        return ExitFlagged;
    }
    bool allSent = true;
    for (const auto &result : alerts::TAlerter::SendTest(channels, args.value(u"computer"_s))) {
        Print(result.Ok ? u"%1: sent\n"_s.arg(result.Channel) : u"%1: failed: %2\n"_s.arg(result.Channel, result.Error));
        allSent = allSent && result.Ok;
    }
    return allSent ? ExitOk : ExitFlagged;
}

CliRegistration reg{{u"alert-test"_s, u"send a test alert through the alert channels of the settings"_s, &run}};

} // namespace
} // namespace valmora::cli

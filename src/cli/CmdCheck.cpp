// valmora-cli check: checks computers exactly as one refresh cycle does.
#include "CliArgs.h"
#include "foundation/DataPaths.h"
#include "CliCommand.h"
#include "CheckOutput.h"
#include "CliAlerts.h"
#include "DriveOutput.h"

#include "discovery/ThisComputer.h"
#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "foundation/Environment.h"
#include "foundation/Options.h"
#include "refresh/CheckPool.h"

#include <QJsonArray>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

// The reader as the checks of the CLI use it: through the provider that answers
// for each computer, from recordings when a folder is given.
TReadDrives RecordingAwareReader(const QString &recordings)
{
    return [recordings](const QString &computer, TDriveList &list, const QString &user, const QString &password,
                        QString *reason) { return ReadComputerDrives(computer, list, user, password, reason, recordings); };
}

// Prints the checked computers, each with its state and drives; the exit code
// is 0 when every one is "Good".
int PrintCheckedComputers(const TCheckedComputers &checked, bool json)
{
    bool allGood = true;
    QJsonArray computers;
    for (const auto &entry : checked) {
        allGood = allGood && entry->State == StateGood;
        if (json) {
            QJsonObject object = DriveListJson(entry->Drives);
            object.insert(u"Name"_s, entry->Name);
            object.insert(u"State"_s, entry->State);
            object.insert(u"StateText"_s, ComputerStateText(entry->State));
            object.insert(u"Error"_s, entry->Reason.isEmpty() ? QJsonValue() : QJsonValue(entry->Reason));
            computers.append(object);
        } else {
            Print(u"%1: %2\n"_s.arg(entry->Name, ComputerStateText(entry->State)));
            if (!entry->Reason.isEmpty())
                Print(u"Reason: %1\n"_s.arg(entry->Reason));
            if (entry->Drives.Count() > 0)
                Print(DriveListText(entry->Drives));
        }
    }
    if (json)
        PrintJson(QJsonObject{{u"Computers"_s, computers}});
    return allGood ? ExitOk : ExitFlagged;
}

QString AtOnceProblem(const QString &text, int &atOnce)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > TOptions::MaxChecksAtOnce)
        return u"--at-once takes a number of computers from 1 to %1, not \"%2\""_s.arg(TOptions::MaxChecksAtOnce)
            .arg(text);
    atOnce = value;
    return QString();
}

namespace {

const QString help =
    u"Usage: valmora-cli check HOST... [--at-once N] [--recordings DIR] [--alerts] [--json]\n\n"
    "Checks each HOST as the monitor does: ping, then its drives with the credentials\n"
    "stored for it or the domain credentials of the settings (none for this computer),\n"
    "and writes its readout to the data folder (an unreachable computer's last readout\n"
    "stays). Prints each host's state and drives; progress goes to stderr.\n"
    "--at-once N checks up to N hosts at the same time (1..256; default: the setting\n"
    "\"ChecksAtOnce\", 16); a host given twice is checked once.\n"
    "--alerts raises the alerts of the result through the channels of the settings\n"
    "(once per change: what was alerted before is kept in the data folder).\n"
    "Exit 0 when every computer is \"Good\", 1 when any is not, 2 for usage errors.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {u"json"_s, u"alerts"_s}, {u"recordings"_s, u"at-once"_s});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.isEmpty()) {
        PrintError(args.error.isEmpty() ? u"check needs at least one HOST"_s : args.error);
        return ExitUsage;
    }
    const QString recordings = args.values.contains(u"recordings"_s) ? args.value(u"recordings"_s)
                                                                      : drives::RecordingsFolderFromEnvironment();
    int atOnce = TOptions::ReadChecksAtOnce();
    if (args.values.contains(u"at-once"_s)) {
        if (const QString problem = AtOnceProblem(args.value(u"at-once"_s), atOnce); !problem.isEmpty()) {
            PrintError(u"check: "_s + problem);
            return ExitUsage;
        }
    }
    TCheckEnvironment environment;
    environment.Echo = CreateSystemIcmpEcho();
    environment.ReadDrives = RecordingAwareReader(recordings);
    environment.DomainUser = TOptions::ReadUser();
    environment.DomainPassword = TOptions::ReadUserP();
    environment.DataFolder = DataPaths::DataFolder();
    environment.LocalComputerName = LocalComputerName();
    TCheckPoolEvents events;
    events.OnStarted = [](const QString &host) { PrintError(u"Currently check: %1"_s.arg(host)); };
    const TCheckPoolResult result = CheckComputers(args.positional, atOnce, environment, events);
    if (args.has(u"alerts"_s))
        RaiseAlerts(result.CheckedComputers);
    return PrintCheckedComputers(result.CheckedComputers, args.has(u"json"_s));
}

CliRegistration reg{{u"check"_s, u"check computers as one refresh cycle does, and save their readouts"_s, &run}};

} // namespace
} // namespace valmora::cli

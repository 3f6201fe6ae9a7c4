// valmora-cli check: checks computers exactly as one refresh cycle does.
#include "CliArgs.h"
#include "CliCommand.h"
#include "CheckOutput.h"
#include "DriveOutput.h"

#include "discovery/ThisComputer.h"
#include "drivedata/WmiDriveReader.h"
#include "foundation/Environment.h"
#include "foundation/Options.h"
#include "platform/WmiProviders.h"
#include "refresh/ComputerCheck.h"

#include <QJsonArray>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

// The reader as the checks of the CLI use it: through the provider that answers
// for each computer, from recordings when a folder is given.
TReadDrives RecordingAwareReader(const QString &recordings)
{
    return [recordings](const QString &computer, TDriveList &list, const QString &user, const QString &password) {
        try {
            const auto provider = platform::ChooseWmiProvider(ServerName(computer), recordings);
            return ReadComputerDrives(*provider, computer, list, user, password);
        } catch (const std::exception &) {
            // No provider for this computer: it cannot be read, as for any
            // failure of the first stage.
            list.ClearDrives();
            list.ComputerName = computer;
            return kReadNoCimv2;
        }
    };
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
            computers.append(object);
        } else {
            Print(u"%1: %2\n"_s.arg(entry->Name, ComputerStateText(entry->State)));
            if (entry->Drives.Count() > 0)
                Print(DriveListText(entry->Drives));
        }
    }
    if (json)
        PrintJson(QJsonObject{{u"Computers"_s, computers}});
    return allGood ? ExitOk : ExitFlagged;
}

namespace {

const QString help =
    u"Usage: valmora-cli check HOST... [--recordings DIR] [--json]\n\n"
    "Checks each HOST as the monitor does: ping, then its drives with the credentials\n"
    "stored for it or the domain credentials of the settings (none for this computer),\n"
    "and writes its readout to the data folder (an unreachable computer's last readout\n"
    "stays). Prints each host's state and drives; progress goes to stderr.\n"
    "Exit 0 when every computer is \"Good\", 1 when any is not, 2 for usage errors.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {u"json"_s}, {u"recordings"_s});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.isEmpty()) {
        PrintError(args.error.isEmpty() ? u"check needs at least one HOST"_s : args.error);
        return ExitUsage;
    }
    const QString recordings = args.values.contains(u"recordings"_s) ? args.value(u"recordings"_s)
                                                                      : platform::RecordingsFolderFromEnvironment();
    TIdIcmpClient ping;
    TCheckEnvironment environment;
    environment.PingClient = &ping;
    environment.ReadDrives = RecordingAwareReader(recordings);
    environment.DomainUser = TOptions::ReadUser();
    environment.DomainPassword = TOptions::ReadUserP();
    environment.DataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    environment.LocalComputerName = LocalComputerName();
    TCheckedComputers checked;
    for (const QString &host : args.positional) {
        PrintError(u"Currently check: %1"_s.arg(host));
        CheckComputer(host, checked, environment);
    }
    return PrintCheckedComputers(checked, args.has(u"json"_s));
}

CliRegistration reg{{u"check"_s, u"check computers as one refresh cycle does, and save their readouts"_s, &run}};

} // namespace
} // namespace valmora::cli

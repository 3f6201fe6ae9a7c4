// valmora-cli read: reads a computer's drives as the monitor does.
#include "CliArgs.h"
#include "CliCommand.h"
#include "DriveOutput.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "refresh/ComputerCheck.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {
namespace {

const QString help =
    u"Usage: valmora-cli read HOST [--user U --password P] [--recordings DIR] [--json]\n\n"
    "Reads every physical drive of HOST (\".\", \"localhost\" or this computer's name for\n"
    "this computer; reading local drives needs root) and prints the result code with\n"
    "its meaning and the drives. With --recordings, or $VALMORA_RECORDINGS, HOST is\n"
    "answered from DIR/HOST.json.\n"
    "Exit 0 for result 0, 1 for results 1 to 3, 2 for usage errors.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {u"json"_s}, {u"user"_s, u"password"_s, u"recordings"_s});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.size() != 1 || args.positional[0].isEmpty()) {
        PrintError(args.error.isEmpty() ? u"read needs one HOST"_s : args.error);
        return ExitUsage;
    }
    const QString computer = args.positional[0];
    const QString recordings =
        args.values.contains(u"recordings"_s) ? args.value(u"recordings"_s) : drives::RecordingsFolderFromEnvironment();
    TDriveList list;
    QString reason;
    const int result =
        ReadComputerDrives(computer, list, args.value(u"user"_s), args.value(u"password"_s), &reason, recordings);
    reason = ReadingReason(result, list, reason);
    if (args.has(u"json"_s)) {
        QJsonObject json = DriveListJson(list);
        json.remove(u"ReadoutTime"_s);
        json.insert(u"Result"_s, result);
        json.insert(u"Error"_s, reason.isEmpty() ? QJsonValue() : QJsonValue(reason));
        json.insert(u"Skipped"_s, QJsonObject{{u"Objects"_s, list.SkippedObjects}, {u"Properties"_s, list.SkippedProperties}});
        PrintJson(json);
    } else {
        Print(u"Result: %1 (%2)\n"_s.arg(result).arg(ReadResultText(result)));
        if (!reason.isEmpty())
            Print(u"Reason: %1\n"_s.arg(reason));
        // What the reading left out by design: told, not a failure.
        if (list.SkippedObjects > 0 || list.SkippedProperties > 0)
            Print(u"Skipped: %1 objects, %2 properties that could not be read\n"_s.arg(list.SkippedObjects)
                      .arg(list.SkippedProperties));
        Print(DriveListText(list));
    }
    return result == kReadGood ? ExitOk : ExitFlagged;
}

CliRegistration reg{{u"read"_s, u"read a computer's drives and judge them"_s, &run}};

} // namespace
} // namespace valmora::cli

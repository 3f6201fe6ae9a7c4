// valmora-cli show: prints a stored readout (a computer information file).
#include "CliArgs.h"
#include "CliCommand.h"
#include "DriveOutput.h"

#include "drivedata/SmartTypes.h"
#include "drivedata/Verdicts.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {
namespace {

const QString help = u"Usage: valmora-cli show FILE.wci [--json]\n\n"
                     "Prints a computer's stored readout: its name, the readout time, and every\n"
                     "drive's identity, size, temperatures and attribute table.\n"
                     "Exit 0, or 2 when the file is missing or damaged.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {u"json"_s}, {});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.size() != 1) {
        PrintError(args.error.isEmpty() ? u"show needs one file: FILE.wci"_s : args.error);
        return ExitUsage;
    }
    const QString path = args.positional[0];
    if (!QFileInfo::exists(path)) {
        PrintError(u"\"%1\" does not exist"_s.arg(QDir::toNativeSeparators(path)));
        return ExitUsage;
    }
    TDriveList list;
    try {
        list.LoadFromFile(path);
        ExplainStoredVerdicts(list);
    } catch (const EDriveFileError &e) {
        PrintError(e.message());
        return ExitUsage;
    }
    if (args.has(u"json"_s))
        PrintJson(DriveListJson(list));
    else
        Print(DriveListText(list));
    return ExitOk;
}

CliRegistration reg{{u"show"_s, u"print a stored readout (FILE.wci)"_s, &run}};

} // namespace
} // namespace valmora::cli

// valmora-cli record: writes what a computer's instrumentation answers the
// drive reader, as a recording for tests, demonstrations and bug reports.
#include "CliArgs.h"
#include "CliCommand.h"
#include "DriveOutput.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "drives/recordings/WmiRecordings.h"

#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {
namespace {

const QString help = u"Usage: valmora-cli record [HOST] [--user U --password P] [--recordings DIR]\n\n"
                     "Writes the recording of HOST (this computer by default) to standard output:\n"
                     "the answers of its instrumentation to the four queries of the drive reader,\n"
                     "failures included. Save it as DIR/HOST.json for read --recordings DIR.\n"_s;

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {}, {u"user"_s, u"password"_s, u"recordings"_s});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.size() > 1) {
        PrintError(args.error.isEmpty() ? u"record takes at most one HOST"_s : args.error);
        return ExitUsage;
    }
    const QString computer =
        args.positional.isEmpty() ? QSysInfo::machineHostName().section(u'.', 0, 0) : args.positional[0];
    const QString recordings =
        args.values.contains(u"recordings"_s) ? args.value(u"recordings"_s) : drives::RecordingsFolderFromEnvironment();
    try {
        const QString server = ServerName(computer);
        const auto provider = drives::ChooseWmiProvider(server, recordings);
        QJsonObject recording = drives::recordings::RecordComputer(*provider, server, args.value(u"user"_s),
                                                         args.value(u"password"_s));
        PrintJson(recording);
    } catch (const std::exception &e) {
        PrintError(QString::fromLocal8Bit(e.what()));
        return ExitUsage;
    }
    return ExitOk;
}

CliRegistration reg{{u"record"_s, u"write a computer's instrumentation answers as a recording"_s, &run}};

} // namespace
} // namespace valmora::cli

// libFuzzer target: the computer information file loader, from a file on disk
// through TDriveList::LoadFromFile. Whatever loads must evaluate without harm
// and save back to the same drives.
#include "drivedata/DriveInformationStream.h"
#include "drivedata/SmartTypes.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    static QTemporaryDir dir;
    const QString path = dir.path() + u"/input.wci"_s;
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    TDriveList list;
    try {
        list.LoadFromFile(path);
    } catch (const EDriveFileError &) {
        if (size >= 208)
            __builtin_trap(); // only a file shorter than its header is refused
        return 0;
    }
    if (list.Count() != static_cast<int>((size - 208) / 9796))
        __builtin_trap();

    TShortDriveInformationStreamWrite out(list.ComputerName, list.ReadoutTime);
    for (int i = 0; i < list.Count(); ++i)
        out.WriteDrive(list.Items(i));
    const TShortDriveInformationStreamRead again(out.Data());
    if (again.ReadComputerName() != list.ComputerName)
        __builtin_trap();
    for (int i = 0; i < list.Count(); ++i) {
        TDriveInformation d;
        again.ReadDrive(i, d);
        if (!(d == list.Items(i)))
            __builtin_trap();
    }
    EvaluateDrives(list);
    return 0;
}

// libFuzzer target: a recording file as a user might send it, read by the
// drive reader through the recordings provider. Whatever the file holds, the
// reading ends in one of the four results and never raises.
#include "drivedata/WmiDriveReader.h"
#include "drives/recordings/WmiRecordings.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    static QTemporaryDir dir;
    {
        QFile f(dir.path() + u"/PC.json"_s);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    drives::recordings::TWmiRecordingProvider replay(dir.path());
    TDriveList list;
    const int result = ReadComputerDrives(replay, u"\\\\PC"_s, list, QString(), QString());
    if (result < kReadGood || result > kReadFlagged || list.ComputerName != u"\\\\PC"_s)
        __builtin_trap();
    return 0;
}

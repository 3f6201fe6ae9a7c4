// libFuzzer target: the INI files anyone with access to the data folder or
// the program's folder can damage: the credentials file, the state file and
// attribute.en, each read from a file holding the input. Whatever the file
// holds, the readers give values or raise Exception, and what was read saves
// to a text that reads back the same.
#include "app/AttrInfo.h"
#include "foundation/DataPaths.h"
#include "foundation/Exception.h"
#include "foundation/IniFile.h"
#include "refresh/StateFile.h"
#include "refresh/UserPass.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace {

void put(const QString &path, const std::uint8_t *data, std::size_t size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        __builtin_trap();
    f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    static QTemporaryDir dir;
    static const bool sandboxed = [] {
        // Failures are logged; the log goes into the sandbox, never to /var/lib.
        qputenv("VALMORA_COMMON_APPDATA", dir.path().toLocal8Bit());
        return QDir().mkpath(dir.path() + u"/vm"_s);
    }();
    if (!sandboxed)
        __builtin_trap();
    const QString folder = dir.path() + u'/';
    put(DataPaths::UserPassFile(folder), data, size);
    put(StateFileName(folder), data, size);
    put(folder + u"attribute.en"_s, data, size);

    try {
        const TMemIniFile ini(StateFileName(folder), TextEncoding::Utf8);
        const QString text = ini.ToText();
        if (TMemIniFile::fromText(text).ToText() != text)
            __builtin_trap();
        for (const QString &section : ini.ReadSections())
            for (const QString &key : ini.ReadSection(section))
                if (!ini.ValueExists(section, key))
                    __builtin_trap();
    } catch (const Exception &) {
    }
    try {
        const TUserPass pass = ReadUserPass(folder, u"PC"_s);
        (void)UserPassIsUsable(pass);
    } catch (const Exception &) {
    }
    (void)ReadComputerState(folder, u"PC"_s);
    (void)ReadComputerReason(folder, u"PC"_s);
    (void)ReadDiskModelFlag(folder, u"WDC WD5000AAKS-00TMA0"_s);
    try {
        const TSMARTAttrDecription attributes(folder + u"attribute.en"_s);
        for (const QString &section : attributes.ReadSections()) {
            (void)attributes.AttributeDescription(section);
            (void)attributes.AttributeWarning(section);
        }
        (void)attributes.AttributeName(5);
    } catch (const Exception &) {
    }
    return 0;
}

// libFuzzer target: the user's settings file (the text form of a registry
// export) as a hand edit or a damaged disk may leave it, opened through the
// store. Lines it cannot read are skipped; what it read saves and opens again
// to the same store, and the typed reads give values or raise
// ERegistryException.
#include "foundation/Exception.h"
#include "foundation/RegistryHelper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    static QTemporaryDir dir;
    static const QString file = [] {
        qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
        qputenv("VALMORA_MACHINE_CONFIG", dir.path().toLocal8Bit());
        qputenv("VALMORA_COMMON_APPDATA", dir.path().toLocal8Bit());
        const QString name = TRegistryStore::FileName(TRootKey::CurrentUser);
        QDir().mkpath(QFileInfo(name).path());
        return name;
    }();
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    QString text;
    {
        TRegistryStore store(TRootKey::CurrentUser);
        text = store.toText();
    }
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(text.toUtf8());
    }
    {
        TRegistryStore again(TRootKey::CurrentUser);
        if (again.toText() != text)
            __builtin_trap();
    }
    const QString key = u"Software\\Quillmoor\\VALMORA"_s;
    try {
        (void)TRegistryHelper::ReadInteger(key, u"Interval"_s, TRootKey::CurrentUser, 300);
    } catch (const ERegistryException &) {
    }
    try {
        (void)TRegistryHelper::ReadString(key, u"User"_s, TRootKey::CurrentUser, QString());
    } catch (const ERegistryException &) {
    }
    return 0;
}

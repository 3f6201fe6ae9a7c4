#include "Settings.h"

#include "Options.h"
#include "RegistryHelper.h"

#include <algorithm>
#include <mutex>

namespace valmora {

namespace {

struct TKept
{
    std::mutex Mutex;
    std::shared_ptr<const TSettings> Settings;
    unsigned Writes = 0;
    QString UserStore;
};

TKept &kept()
{
    static TKept k;
    return k;
}

} // namespace

TSettings TSettings::Read()
{
    TSettings s;
    s.Interval = std::max(TOptions::ReadInterval(), 0);
    s.ChecksAtOnce = TOptions::ReadChecksAtOnce();
    s.SearchKind = SearchKindFromNumber(TOptions::ReadSearchKind());
    s.IPRanges = TOptions::ReadIPRanges();
    s.User = TOptions::ReadUser();
    s.TemperatureScale = TOptions::ReadTemperatureScale();
    s.SectorWarnings = TOptions::ReadSectorWarnings();
    s.MinimizeToTray = TOptions::ReadMinimizeToTray();
    s.RunAtWindowsStart = TOptions::ReadRunAtWindowsStart();
    s.LogTrace = TOptions::ReadLogTrace();
    return s;
}

std::shared_ptr<const TSettings> TSettings::Current()
{
    TKept &k = kept();
    std::lock_guard lock(k.Mutex);
    const unsigned writes = TRegistryStore::WriteCount();
    const QString userStore = TRegistryStore::FileName(TRootKey::CurrentUser);
    if (!k.Settings || k.Writes != writes || k.UserStore != userStore) {
        // A first read may create the key path (a write): the copy is then
        // read once more, and kept from there on.
        k.Settings = std::make_shared<const TSettings>(Read());
        k.Writes = writes;
        k.UserStore = userStore;
    }
    return k.Settings;
}

void TSettings::Reload()
{
    TKept &k = kept();
    std::lock_guard lock(k.Mutex);
    k.Settings.reset();
}

} // namespace valmora

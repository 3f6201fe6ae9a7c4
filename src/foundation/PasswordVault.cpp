#include "PasswordVault.h"

#include <mutex>

namespace valmora {

namespace {

std::mutex &vaultMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<TPasswordVault> &vault()
{
    static std::shared_ptr<TPasswordVault> v;
    return v;
}

} // namespace

std::shared_ptr<TPasswordVault> InstalledPasswordVault()
{
    std::lock_guard lock(vaultMutex());
    return vault();
}

void InstallPasswordVault(std::shared_ptr<TPasswordVault> v)
{
    std::lock_guard lock(vaultMutex());
    vault() = std::move(v);
}

} // namespace valmora

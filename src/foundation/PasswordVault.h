#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace valmora {

// A place for passwords outside the settings file, such as the keyring of the
// desktop session. The settings read and write the domain password through the
// installed vault first and fall back to their own owner-only file when there
// is none or it cannot be reached.
class TPasswordVault
{
public:
    virtual ~TPasswordVault() = default;
    // nullopt when the vault holds no password of that name or cannot be reached.
    virtual std::optional<QString> Read(const QString &name) = 0;
    // false when the vault cannot be reached or refuses the password.
    virtual bool Write(const QString &name, const QString &password) = 0;
};

// The vault the settings use; none (nullptr) until a program installs one.
std::shared_ptr<TPasswordVault> InstalledPasswordVault();
void InstallPasswordVault(std::shared_ptr<TPasswordVault> vault);

} // namespace valmora

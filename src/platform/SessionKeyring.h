#pragma once

// The desktop session's keyring as a password vault: the Secret Service of
// the session bus (GNOME Keyring, KWallet and the like), through libsecret.

#include "foundation/PasswordVault.h"

#include <memory>

namespace valmora::platform {

// nullptr when this session has no session bus to ask; a vault whose service
// turns out to be missing just reads nothing and refuses writes, so the
// settings file serves instead.
std::shared_ptr<TPasswordVault> CreateSessionKeyring();

} // namespace valmora::platform

#pragma once

// The parts of the c-ares reverse lookup that tests reach directly.

#include <QByteArray>
#include <QString>

#include <optional>

namespace valmora::platform::cares {

// The name of the first PTR record in the answer section of a DNS reply, with
// label bytes taken as UTF-8 (names of Windows DNS servers need not be ASCII).
// Empty when the answer holds records but none of type PTR; nothing when the
// reply cannot be decoded. Raises EDnsError when the answer section is empty.
std::optional<QString> PtrNameFromReply(const QByteArray &reply);

} // namespace valmora::platform::cares

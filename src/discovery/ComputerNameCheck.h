#pragma once

// Computer names that come from outside (DNS answers, discovery replies, file
// names in the data folder) later become file names and INI sections. Every
// source passes them through this one check before it keeps them.

#include "foundation/ComputerName.h"

#include <QString>

namespace valmora {

// Longest name, in bytes of UTF-8, that is kept.
inline constexpr int MaxComputerNameBytes = 255;

// Empty when the name may be kept, otherwise why not. A leading "\\" is allowed
// and not counted; letters of every script are allowed. A name must be a file
// name on Windows as well: no device name (CON, NUL, COM1, also with an
// extension such as "con.corp"), no trailing dot or blank. A name that means
// this computer without naming it (".", "localhost", a 127.x.x.x address) is
// dropped; this computer's own name is kept, as the check reads it locally.
QString ComputerNameProblem(const QString &name);

// True when the name may be kept; otherwise writes an exception entry naming
// the name (made printable) and where it came from, and gives false.
bool AcceptComputerName(const QString &name, const QString &origin);

// The name with control and other invisible characters shown as \x{…}, cut to
// a readable length: safe to put into one log line.
QString PrintableName(const QString &name);

} // namespace valmora

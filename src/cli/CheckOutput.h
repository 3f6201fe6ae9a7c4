#pragma once

// What check and scan share: the reader they check with and how they print.

#include "refresh/ComputerCheck.h"

namespace valmora::cli {

// ReadComputerDrives through the provider for each computer; from the
// recordings folder when one is given.
TReadDrives RecordingAwareReader(const QString &recordings);
// Each computer's state and drives; returns 0 when all are "Good", else 1.
int PrintCheckedComputers(const TCheckedComputers &checked, bool json);

// The value of --at-once: how many computers are checked at once, 1..256.
// Empty when it is one, otherwise what is wrong with it.
QString AtOnceProblem(const QString &text, int &atOnce);

} // namespace valmora::cli

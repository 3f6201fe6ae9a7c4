#pragma once

// --alerts of check and scan: the cycle's computers go to the alerter of the
// settings, exactly as the monitor's cycles do.

#include "refresh/ComputerCheck.h"

#include <QStringList>

namespace valmora::cli {

// Raises what the checked computers raise and waits until each pending alert
// had its attempt; what a channel did not take stays in the outbox for the
// next run. Failures go to the log and stderr.
void RaiseAlerts(const TCheckedComputers &checked, const QStringList &removed = {});

} // namespace valmora::cli

#pragma once

// The one place that decides which management-instrumentation provider answers
// for a computer: this computer's own, recordings, or the remote one.

#include "platform/Wmi.h"

#include <QString>

#include <memory>

namespace valmora::platform {

// This computer's instrumentation (defined per operating system).
std::unique_ptr<wmi::TWmiProvider> CreateLocalWmiProvider();
// Remote computers' instrumentation.
std::unique_ptr<wmi::TWmiProvider> CreateRemoteWmiProvider();

// $VALMORA_RECORDINGS, or empty.
QString RecordingsFolderFromEnvironment();
// True for ".", "localhost" and this computer's own name (short or full), in any letter case.
bool IsLocalComputerName(const QString &server);

// The recordings in recordingsFolder when it is given; otherwise this
// computer's provider for a local name and the remote provider for any other.
// server is the computer's name without a leading "\\".
std::unique_ptr<wmi::TWmiProvider> ChooseWmiProvider(const QString &server,
                                                     const QString &recordingsFolder = RecordingsFolderFromEnvironment());

} // namespace valmora::platform

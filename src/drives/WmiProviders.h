#pragma once

// The one place that decides which management-instrumentation provider answers
// for a computer: this computer's own, recordings, or the remote one.

#include "drives/Wmi.h"

#include <QString>

#include <memory>

namespace valmora::drives {

namespace winrm {
struct TWinRmOptions;
}

// This computer's instrumentation (defined per operating system).
std::unique_ptr<TWmiProvider> CreateLocalWmiProvider();
// Remote computers' instrumentation (WinRM); one instance per computer check
// keeps one connection across the stages of the reading. Without options,
// where and how come from the environment (WinRmOptionsFromEnvironment).
std::unique_ptr<TWmiProvider> CreateRemoteWmiProvider();
std::unique_ptr<TWmiProvider> CreateRemoteWmiProvider(const winrm::TWinRmOptions &options);
// VALMORA_WINRM_HTTPS, VALMORA_WINRM_PORT and VALMORA_WINRM_CA_FILE.
winrm::TWinRmOptions WinRmOptionsFromEnvironment();

// $VALMORA_RECORDINGS, or empty.
QString RecordingsFolderFromEnvironment();
// True for ".", "localhost" and this computer's own name (short or full), in any letter case.
bool IsLocalComputerName(const QString &server);

// The recordings in recordingsFolder when it is given; otherwise this
// computer's provider for a local name and the remote provider for any other.
// server is the computer's name without a leading "\\".
std::unique_ptr<TWmiProvider> ChooseWmiProvider(const QString &server,
                                                     const QString &recordingsFolder = RecordingsFolderFromEnvironment());

} // namespace valmora::drives

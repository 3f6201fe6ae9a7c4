#pragma once

// The computers of the network neighbourhood: on each Refresh the differences
// to the previous list are reported through OnComputerDeleted and OnComputerAdded.

#include "NNBase.h"

#include "platform/NetworkEnumerator.h"

#include <cstdint>
#include <memory>

namespace valmora {

class TNetworkNeigborhoodComputes;

using TExtendedErrorEvent =
    std::function<void(TNetworkNeigborhoodComputes &sender, std::uint32_t errorCode, const QString &description)>;

class TNetworkNeigborhoodComputes final : public TNNBase
{
public:
    // The platform's own enumeration.
    TNetworkNeigborhoodComputes();
    explicit TNetworkNeigborhoodComputes(std::unique_ptr<platform::TNetworkEnumerator> enumerator);

    // True when the enumeration was opened and closed without error, whatever
    // the fetches in between returned; false, with nothing changed and no
    // event, when it cannot be opened; false after the passes when closing fails.
    bool Refresh() override;

    // Adds "\\" + name for every "name.wci" entry of the folder (exactly one
    // "." in the entry's name) that Computers does not hold yet; no event.
    void AddKnownComputers(const QString &dataFolder);

    // The names of the latest enumeration.
    const TNameList &FoundComputers() const { return m_found; }
    // Why the latest Refresh could not open the enumeration; empty otherwise.
    const QString &OpenError() const { return m_openError; }

    TExtendedErrorEvent OnErrorExtendedError;
    TNotifyEvent OnErrorNoNetwork;
    TNotifyEvent OnErrorInvalidHandle;

private:
    std::unique_ptr<platform::TNetworkEnumerator> m_enumerator;
    TNameList m_found;
    QString m_openError;
};

} // namespace valmora

#pragma once

// The computer sources of the program: this computer, the network
// neighbourhood and the IP ranges. One set, shared by the window (its list)
// and the refresh thread (its cycles); whoever refreshes a source or reads its
// computers holds the set's lock.

#include "foundation/SearchKind.h"

#include <memory>
#include <mutex>

namespace valmora {

class TNNBase;
class TThisComputer;
class TNetworkNeigborhoodComputes;
class TIPNetworkNeigborhoodComputes;

class TComputerSources
{
public:
    // A missing source stays missing: Source gives nullptr for its kind.
    TComputerSources(std::unique_ptr<TThisComputer> thisComputer, std::unique_ptr<TNetworkNeigborhoodComputes> network,
                     std::unique_ptr<TIPNetworkNeigborhoodComputes> ipRanges);
    ~TComputerSources();
    TComputerSources(const TComputerSources &) = delete;
    TComputerSources &operator=(const TComputerSources &) = delete;

    // The system's real sources.
    static std::shared_ptr<TComputerSources> System();

    TNNBase *Source(TSearchKind kind) const;
    TThisComputer *ThisComputer() const { return m_thisComputer.get(); }
    TNetworkNeigborhoodComputes *Network() const { return m_network.get(); }
    TIPNetworkNeigborhoodComputes *IPRanges() const { return m_ipRanges.get(); }

    // Held while a source refreshes or its computers are read or changed.
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock(m_mutex); }

private:
    std::unique_ptr<TThisComputer> m_thisComputer;
    std::unique_ptr<TNetworkNeigborhoodComputes> m_network;
    std::unique_ptr<TIPNetworkNeigborhoodComputes> m_ipRanges;
    mutable std::mutex m_mutex;
};

} // namespace valmora

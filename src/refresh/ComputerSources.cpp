#include "ComputerSources.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"

namespace valmora {

TComputerSources::TComputerSources(std::unique_ptr<TThisComputer> thisComputer,
                                   std::unique_ptr<TNetworkNeigborhoodComputes> network,
                                   std::unique_ptr<TIPNetworkNeigborhoodComputes> ipRanges)
    : m_thisComputer(std::move(thisComputer))
    , m_network(std::move(network))
    , m_ipRanges(std::move(ipRanges))
{
}

TComputerSources::~TComputerSources() = default;

std::shared_ptr<TComputerSources> TComputerSources::System()
{
    return std::make_shared<TComputerSources>(std::make_unique<TThisComputer>(),
                                              std::make_unique<TNetworkNeigborhoodComputes>(),
                                              std::make_unique<TIPNetworkNeigborhoodComputes>());
}

TNNBase *TComputerSources::Source(TSearchKind kind) const
{
    switch (kind) {
    case TSearchKind::ThisComputer:
        return m_thisComputer.get();
    case TSearchKind::IPRanges:
        return m_ipRanges.get();
    case TSearchKind::NetworkNeighbourhood:
        break;
    }
    return m_network.get();
}

} // namespace valmora

#pragma once

#include "NNBase.h"

#include "platform/HostInfo.h"

namespace valmora {

// The name of the machine the program runs on: the host name up to its first
// ".", in the letter case the system gives.
QString LocalComputerName();
QString LocalComputerName(const platform::THostInfo &host);

// The local computer alone, stored as "\\" and its name in lower case.
class TThisComputer final : public TNNBase
{
public:
    explicit TThisComputer(const platform::THostInfo &host = platform::SystemHostInfo());

    // Cannot fail; always true.
    bool Refresh() override;

private:
    const platform::THostInfo &m_host;
};

} // namespace valmora

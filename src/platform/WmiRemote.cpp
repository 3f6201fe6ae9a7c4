// Remote computers are reached through WS-Management; until that client is in
// place every remote connection fails, so such a computer reads as one whose
// instrumentation cannot be reached.
#include "WmiProviders.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

namespace {

class TUnreachableLocator final : public wmi::TWmiLocator
{
public:
    std::unique_ptr<wmi::TWmiServices> ConnectServer(const QString &server, const QString &, const QString &,
                                                     const QString &) override
    {
        throw wmi::EWmiError(u"Remote computers cannot be reached yet (\"%1\")"_s.arg(server));
    }
};

class TUnreachableProvider final : public wmi::TWmiProvider
{
public:
    std::unique_ptr<wmi::TWmiLocator> CreateLocator() override { return std::make_unique<TUnreachableLocator>(); }
};

} // namespace

std::unique_ptr<wmi::TWmiProvider> CreateRemoteWmiProvider()
{
    return std::make_unique<TUnreachableProvider>();
}

} // namespace valmora::platform

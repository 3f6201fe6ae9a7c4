#pragma once

// The requests a service receives from the system that runs it: stop (SIGTERM,
// SIGINT) and reload its settings (SIGHUP), handed to the caller's event loop
// rather than run inside a signal handler.

#include <functional>
#include <memory>

namespace valmora::platform {

class TServiceSignals
{
public:
    virtual ~TServiceSignals() = default;
    // Called in the thread that created the object, from its event loop.
    std::function<void()> OnStop;
    std::function<void()> OnReload;
};

// One per process: installs the handlers; the object's end restores the defaults.
std::unique_ptr<TServiceSignals> CreateServiceSignals();

} // namespace valmora::platform

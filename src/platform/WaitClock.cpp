#include "WaitClock.h"

namespace valmora::platform {

namespace {

class TSteadyWaitClock final : public TWaitClock
{
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    void WaitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, TimePoint until) override
    {
        cv.wait_until(lock, until);
    }
};

} // namespace

std::shared_ptr<TWaitClock> SystemWaitClock()
{
    static const auto clock = std::make_shared<TSteadyWaitClock>();
    return clock;
}

} // namespace valmora::platform

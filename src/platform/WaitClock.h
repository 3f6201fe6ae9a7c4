#pragma once

// The clock the background waits run on: the steady clock of the system, or
// in tests a clock the test moves on, so schedules are tested without sleeps.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace valmora::platform {

class TWaitClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~TWaitClock() = default;
    virtual TimePoint Now() const = 0;
    // Waits on cv (lock held) until it is notified or Now() reaches until; may
    // return early, so the caller checks its condition and the time again.
    virtual void WaitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, TimePoint until) = 0;
};

// The system's steady clock.
std::shared_ptr<TWaitClock> SystemWaitClock();

} // namespace valmora::platform

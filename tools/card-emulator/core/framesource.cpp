#include "tools/card-emulator/core/framesource.h"

namespace card {

FramePtr FrameSource::newest(std::uint64_t& number) const
{
    std::lock_guard<std::mutex> g(lock);
    number = sequence;
    return frame;
}

FramePtr FrameSource::waitNewer(std::uint64_t after,
                                std::chrono::steady_clock::time_point deadline,
                                std::uint64_t& number) const
{
    std::unique_lock<std::mutex> g(lock);
    changed.wait_until(g, deadline, [&] { return sequence > after || !failed.empty(); });
    number = sequence;
    return frame;
}

std::string FrameSource::failure() const
{
    std::lock_guard<std::mutex> g(lock);
    return failed;
}

void FrameSource::publish(FramePtr f)
{
    {
        std::lock_guard<std::mutex> g(lock);
        frame = std::move(f);
        ++sequence;
    }
    changed.notify_all();
}

void FrameSource::fail(const std::string& reason)
{
    {
        std::lock_guard<std::mutex> g(lock);
        if (failed.empty())
            failed = reason.empty() ? "failed" : reason;
    }
    changed.notify_all();
}

void FrameSource::clearFailure()
{
    std::lock_guard<std::mutex> g(lock);
    failed.clear();
}

}  // namespace card

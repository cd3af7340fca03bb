#pragma once
// A picture the card's sensor looks at instead of the synthetic test card: a still image, or
// frames that arrive from another thread (a video, a webcam, a pipeline). The newest frame
// and any failure are kept here, under the source's own lock, so the card's readers never
// wait on the thread that produces the frames.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace card {

struct SourceFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // RGB565, rows packed
};

using FramePtr = std::shared_ptr<const SourceFrame>;

class FrameSource {
public:
    virtual ~FrameSource() = default;
    FrameSource() = default;
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // The source as given on the command line, for messages.
    virtual std::string describe() const = 0;
    // A still picture is never stale: a read delivers it again without waiting.
    virtual bool still() const { return false; }
    // False while the card should show the synthetic test card instead.
    virtual bool hasFrames() const { return true; }
    // Starts, or starts again after stop() or a failure; returns once the first frame is
    // there, or false with `error` set.
    virtual bool start(std::string& error) = 0;
    virtual void stop() = 0;

    // The newest frame and its number; null and 0 before the first.
    FramePtr newest(std::uint64_t& number) const;
    // Waits until a frame numbered above `after` is there, the source fails, or `deadline`
    // passes; returns the newest frame then.
    FramePtr waitNewer(std::uint64_t after, std::chrono::steady_clock::time_point deadline,
                       std::uint64_t& number) const;
    // Why the source stopped working; empty while it works.
    std::string failure() const;

protected:
    void publish(FramePtr frame);
    void fail(const std::string& reason);
    void clearFailure();

private:
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    FramePtr frame;
    std::uint64_t sequence = 0;
    std::string failed;
};

}  // namespace card

#pragma once
// --source auto: the first Video4Linux capture device that delivers frames, else the
// synthetic test card. While it shows the test card it looks again whenever the set of
// devices changes, so a webcam plugged in later is taken, and every few seconds tries the
// same devices again, so a webcam another program held is taken once it is let go; a
// webcam that fails or goes away gives the test card back. Every choice is reported, for
// the log.
#include "tools/card-emulator/core/framesource.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace card {

// Whether the node at a path captures video; by default asked of the device itself.
using CapturesVideo = std::function<bool(const std::string& node)>;

// The Video4Linux capture devices under `folder` (video0, video1, ... in number order),
// leaving out nodes that only output or carry metadata.
std::vector<std::string> videoCaptureDevices(const std::string& folder = "/dev",
                                             const CapturesVideo& captures = {});

class AutoSource : public FrameSource {
public:
    using ListDevices = std::function<std::vector<std::string>()>;
    using MakeDevice = std::function<std::unique_ptr<FrameSource>(const std::string& device)>;
    // `chosen` gets the description of each source taken ("v4l2:/dev/video0", "pattern").
    using Chosen = std::function<void(const std::string& description)>;
    AutoSource(ListDevices list, MakeDevice make, Chosen chosen);
    ~AutoSource() override;

    std::string describe() const override { return "auto"; }
    bool hasFrames() const override { return device != nullptr; }
    // Always works: without a device the card shows the test card.
    bool start(std::string& error) override;
    void stop() override;

    // How often the devices are listed again while none delivers, and after how many
    // looks at an unchanged set they are tried again.
    static constexpr int lookMs = 1000;
    static constexpr int retryLooks = 5;

private:
    void choose();
    void loop();

    ListDevices list;
    MakeDevice make;
    Chosen chosen;
    std::vector<std::string> seen; // the devices of the last look
    int unchangedLooks = 0;
    std::atomic<FrameSource*> device{nullptr};
    std::unique_ptr<FrameSource> owned;
    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;
    std::thread thread;
};

}  // namespace card

#pragma once
// Frames from a GStreamer 1.x pipeline: a video file played in a loop, a Video4Linux device,
// or any pipeline description. The pipeline ends in an app sink that keeps only the newest
// frame, converted to the card's RGB 5-6-5 at the source's own size; a device's raw frames
// are first scaled down to the least size that covers the largest capture, its motion JPEG
// decoded here at the least fraction of its size that still covers it.
#include "tools/card-emulator/core/framesource.h"
#include "tools/card-emulator/sources/webcammode.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _GstElement;
struct _GstAppSink;

namespace card {

class GstSource : public FrameSource {
public:
    enum Kind { Video, Device, Pipeline };
    GstSource(Kind kind, std::string argument) : kind(kind), argument(std::move(argument)) {}
    ~GstSource() override;

    // A device's mode as it is chosen, "v4l2:/dev/video0 YUYV 640x480 30/1", each time it
    // differs from the last; called on the thread that starts the source.
    void onModeChosen(std::function<void(const std::string&)> report) { modeChosen = std::move(report); }

    std::string describe() const override;
    bool start(std::string& error) override;
    void stop() override;

    // How long start() waits for the first frame.
    static constexpr int firstFrameMs = 5000;

private:
    static int onSample(_GstAppSink* sink, void* self);
    // A frame to fill on the streaming thread: one published before that nobody holds any
    // more, else a new one.
    std::shared_ptr<SourceFrame> frameToFill();
    bool build(std::string& error);
    // The device's mode for the card; none when the device cannot be opened or has none.
    std::optional<WebcamMode> chooseMode();
    void applyMode(const WebcamMode& mode);
    // Runs while the pipeline plays; the only thread that changes it meanwhile.
    void watchBus();
    void restart();
    std::string busError(int waitMs);

    Kind kind;
    std::string argument;
    _GstElement* pipeline = nullptr;
    std::thread watcher;
    std::atomic<bool> stopping{false};
    std::function<void(const std::string&)> modeChosen;
    std::string reportedMode;
    std::vector<std::shared_ptr<SourceFrame>> frames;  // those frameToFill() may give again
};

}  // namespace card

#pragma once
// Frames from a GStreamer 1.x pipeline: a video file played in a loop, a Video4Linux device,
// or any pipeline description. The pipeline ends in an app sink that keeps only the newest
// frame, converted to the card's RGB 5-6-5 at the source's own size.
#include "tools/card-emulator/core/framesource.h"

#include <atomic>
#include <string>
#include <thread>

struct _GstElement;
struct _GstAppSink;

namespace card {

class GstSource : public FrameSource {
public:
    enum Kind { Video, Device, Pipeline };
    GstSource(Kind kind, std::string argument) : kind(kind), argument(std::move(argument)) {}
    ~GstSource() override;

    std::string describe() const override;
    bool start(std::string& error) override;
    void stop() override;

    // How long start() waits for the first frame.
    static constexpr int firstFrameMs = 5000;

private:
    static int onSample(_GstAppSink* sink, void* self);
    bool build(std::string& error);
    void preferLargestSize();
    // Runs while the pipeline plays; the only thread that changes it meanwhile.
    void watchBus();
    void restart();
    std::string busError(int waitMs);

    Kind kind;
    std::string argument;
    _GstElement* pipeline = nullptr;
    std::thread watcher;
    std::atomic<bool> stopping{false};
};

}  // namespace card

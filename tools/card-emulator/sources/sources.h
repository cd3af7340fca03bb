#pragma once
// The card's picture sources by their command-line names, and the runner that keeps one
// working: it starts the source, watches it, and starts it again every second after it
// failed.
#include "tools/card-emulator/core/framesource.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace card {

// --source SOURCE: "pattern" gives no source (the synthetic scene); "image:FILE",
// "video:FILE", "v4l2:DEVICE", "gst:PIPELINE" give theirs; "auto" the first webcam that
// delivers, else the scene, telling `chosen` which it took. A device tells `mode` the mode
// it takes, "v4l2:/dev/video0 YUYV 640x480 30/1". False with `error` for a SOURCE that this
// build cannot serve.
bool makeSource(const std::string& description, std::unique_ptr<FrameSource>& source,
                std::string& error,
                std::function<void(const std::string& which)> chosen = {},
                std::function<void(const std::string& mode)> mode = {});

// The SOURCE forms this build serves, one indented line each, for the usage text.
std::string sourceHelp();

class SourceRunner {
public:
    // `report` runs on the runner's thread after every start and every failure.
    using Report = std::function<void(bool working, const std::string& reason)>;
    SourceRunner(FrameSource& source, Report report);
    ~SourceRunner();
    SourceRunner(const SourceRunner&) = delete;
    SourceRunner& operator=(const SourceRunner&) = delete;

    // The first start, on the caller's thread, then the watch on a thread of its own.
    void run();

    static constexpr int retryMs = 1000;

private:
    bool tryStart();
    void loop();

    FrameSource& source;
    Report report;
    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;
    bool working = false;
    std::thread thread;
};

}  // namespace card

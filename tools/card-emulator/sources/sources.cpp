#include "tools/card-emulator/sources/sources.h"

#include "tools/card-emulator/sources/autosource.h"
#include "tools/card-emulator/sources/imagesource.h"
#ifdef CARD_HAVE_GSTREAMER
#include "tools/card-emulator/sources/gstsource.h"
#endif

#include <QImageReader>

#include <chrono>

namespace card {

bool makeSource(const std::string& description, std::unique_ptr<FrameSource>& source,
                std::string& error, std::function<void(const std::string& which)> chosen,
                std::function<void(const std::string& mode)> mode)
{
    source.reset();
    if (description == "pattern")
        return true;
    if (description == "auto") {
        AutoSource::MakeDevice make = [](const std::string&) { return std::unique_ptr<FrameSource>(); };
#ifdef CARD_HAVE_GSTREAMER
        make = [mode](const std::string& node) -> std::unique_ptr<FrameSource> {
            auto device = std::make_unique<GstSource>(GstSource::Device, node);
            device->onModeChosen(mode);
            return device;
        };
#endif
        if (!chosen)
            chosen = [](const std::string&) {};
        source = std::make_unique<AutoSource>([] { return videoCaptureDevices(); }, make, chosen);
        return true;
    }
    const std::size_t colon = description.find(':');
    const std::string kind = description.substr(0, colon);
    const std::string argument = colon == std::string::npos ? std::string() : description.substr(colon + 1);
    if (colon == std::string::npos || argument.empty()) {
        error = "not a source: " + description;
        return false;
    }
    if (kind == "image") {
        source = std::make_unique<ImageSource>(argument);
        return true;
    }
#ifdef CARD_HAVE_GSTREAMER
    if (kind == "video")
        source = std::make_unique<GstSource>(GstSource::Video, argument);
    else if (kind == "v4l2") {
        auto device = std::make_unique<GstSource>(GstSource::Device, argument);
        device->onModeChosen(mode);
        source = std::move(device);
    }
    else if (kind == "gst")
        source = std::make_unique<GstSource>(GstSource::Pipeline, argument);
    if (source)
        return true;
    error = "not a source: " + description;
#else
    if (kind == "video" || kind == "v4l2" || kind == "gst")
        error = description + ": this build has no GStreamer";
    else
        error = "not a source: " + description;
#endif
    return false;
}

std::string sourceHelp()
{
    std::string formats;
    for (const QByteArray& f : QImageReader::supportedImageFormats())
        formats += (formats.empty() ? "" : " ") + f.toStdString();
    std::string text = "  pattern          the synthetic test card (default)\n"
                       "  auto             the first webcam that delivers frames, else the test card\n"
                       "  image:FILE       a still picture (" + formats + ")\n";
#ifdef CARD_HAVE_GSTREAMER
    text += "  video:FILE       a video file, played in a loop (GStreamer)\n"
            "  v4l2:DEVICE      a webcam or other Video4Linux device, e.g. v4l2:/dev/video0\n"
            "  gst:PIPELINE     a GStreamer pipeline that produces video,\n"
            "                   e.g. 'gst:videotestsrc pattern=ball'\n";
#endif
    return text;
}

SourceRunner::SourceRunner(FrameSource& s, Report r)
    : source(s), report(std::move(r))
{
}

SourceRunner::~SourceRunner()
{
    {
        std::lock_guard<std::mutex> g(lock);
        quit = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
    source.stop();
}

bool SourceRunner::tryStart()
{
    std::string error;
    const bool ok = source.start(error);
    report(ok, error);
    return ok;
}

void SourceRunner::run()
{
    working = tryStart();
    thread = std::thread([this] { loop(); });
}

void SourceRunner::loop()
{
    using namespace std::chrono;
    std::unique_lock<std::mutex> g(lock);
    while (!quit) {
        if (working) {
            wake.wait_for(g, milliseconds(100), [this] { return quit; });
            if (quit)
                break;
            const std::string reason = source.failure();
            if (reason.empty())
                continue;
            g.unlock();
            source.stop();
            report(false, reason);
            g.lock();
            working = false;
        }
        wake.wait_for(g, milliseconds(retryMs), [this] { return quit; });
        if (quit)
            break;
        g.unlock();
        const bool ok = tryStart();
        g.lock();
        working = ok;
    }
}

}  // namespace card

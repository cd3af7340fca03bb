#include "tools/card-emulator/sources/gstsource.h"

#include "tools/card-emulator/sources/jpegframe.h"
#include "tools/card-emulator/sources/webcammode.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>
#include <unistd.h>

namespace card {

namespace {

// What every pipeline ends in: the card's pixel format at the source's size, newest frame
// only, at the source's own pace.
constexpr char sinkTail[] =
    "videoconvert ! video/x-raw,format=RGB16 ! appsink name=cardsink max-buffers=1 drop=true";

bool initialise(std::string& error)
{
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        GError* err = nullptr;
        if (!gst_init_check(nullptr, nullptr, &err)) {
            failure = std::string("GStreamer: ") + (err ? err->message : "cannot initialise");
            if (err)
                g_error_free(err);
        }
    });
    error = failure;
    return failure.empty();
}

std::string takeError(GError* err)
{
    std::string text = err && err->message ? err->message : "unknown error";
    if (err)
        g_error_free(err);
    return text;
}

}  // namespace

GstSource::~GstSource()
{
    stop();
}

std::string GstSource::describe() const
{
    switch (kind) {
    case Video:
        return "video:" + argument;
    case Device:
        return "v4l2:" + argument;
    case Pipeline:
        break;
    }
    return "gst:" + argument;
}

bool GstSource::build(std::string& error)
{
    GError* err = nullptr;
    std::string description;
    std::optional<WebcamMode> mode;
    switch (kind) {
    case Video:
        // The file is opened at every start and every loop, so a file that went away is
        // noticed at the latest when the video ends.
        if (::access(argument.c_str(), R_OK) != 0) {
            error = "cannot open " + argument + ": " + std::strerror(errno);
            return false;
        }
        description = "filesrc name=cardsrc ! decodebin ! " + std::string(sinkTail);
        break;
    case Device:
        mode = chooseMode();
        if (mode && !mode->raw) {
            // Motion JPEG is decoded here, scaled inside the decoder (onSample).
            description = "v4l2src name=cardsrc ! capsfilter name=cardcaps ! "
                          "appsink name=cardsink max-buffers=1 drop=true";
        } else {
            // decodebin takes whatever raw format the device gives.
            description = "v4l2src name=cardsrc ! capsfilter name=cardcaps ! decodebin ! "
                          "videoscale ! capsfilter name=cardscale ! "
                + std::string(sinkTail);
        }
        break;
    case Pipeline:
        description = argument + " ! " + sinkTail;
        break;
    }
    pipeline = gst_parse_launch(description.c_str(), &err);
    if (err) {
        error = "pipeline: " + takeError(err);
        if (pipeline)
            gst_object_unref(pipeline);
        pipeline = nullptr;
        return false;
    }
    if (!pipeline) {
        error = "pipeline: cannot be made";
        return false;
    }
    if (kind != Pipeline) {
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "cardsrc");
        g_object_set(src, kind == Video ? "location" : "device", argument.c_str(), nullptr);
        gst_object_unref(src);
    }
    if (mode)
        applyMode(*mode);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "cardsink");
    if (!sink) {
        error = "pipeline: no app sink";
        gst_object_unref(pipeline);
        pipeline = nullptr;
        return false;
    }
    // A device's frames come at the device's pace: waiting on the clock for each one only
    // holds up the thread that takes the next, and the device drops what it cannot queue.
    if (kind == Device)
        g_object_set(sink, "sync", FALSE, nullptr);
    GstAppSinkCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return GstFlowReturn(onSample(s, self));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    return true;
}

namespace {

// A frame rate field: one fraction, a list of them, or a range (its top).
void ratesOf(const GValue* value, std::vector<std::pair<int, int>>& rates)
{
    if (!value)
        return;
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        rates.emplace_back(gst_value_get_fraction_numerator(value),
                           gst_value_get_fraction_denominator(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            ratesOf(gst_value_list_get_value(value, i), rates);
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        ratesOf(gst_value_get_fraction_range_max(value), rates);
    }
}

// A size field: one number, or a range (its top).
int sizeOf(const GstStructure* st, const char* field)
{
    const GValue* value = gst_structure_get_value(st, field);
    if (value && G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (value && GST_VALUE_HOLDS_INT_RANGE(value))
        return gst_value_get_int_range_max(value);
    return 0;
}

// Every mode of the device's caps that the card decodes: raw video and motion JPEG.
std::vector<WebcamMode> modesOf(const GstCaps* caps)
{
    std::vector<WebcamMode> modes;
    for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
        const GstStructure* st = gst_caps_get_structure(caps, i);
        WebcamMode mode;
        if (gst_structure_has_name(st, "video/x-raw")) {
            const char* format = gst_structure_get_string(st, "format");
            if (!format)
                continue;
            mode.format = std::strcmp(format, "YUY2") == 0 ? "YUYV" : format;
        } else if (gst_structure_has_name(st, "image/jpeg")) {
            mode.format = "MJPG";
            mode.raw = false;
        } else {
            continue;
        }
        mode.width = sizeOf(st, "width");
        mode.height = sizeOf(st, "height");
        std::vector<std::pair<int, int>> rates;
        ratesOf(gst_structure_get_value(st, "framerate"), rates);
        if (mode.width <= 0 || mode.height <= 0)
            continue;
        for (const auto& rate : rates) {
            if (rate.first <= 0 || rate.second <= 0)
                continue;
            mode.rateNum = rate.first;
            mode.rateDen = rate.second;
            modes.push_back(mode);
        }
    }
    return modes;
}

}  // namespace

std::optional<WebcamMode> GstSource::chooseMode()
{
    // A device left to itself gives its default mode, which may be its slowest or its
    // largest; the modes are known once the device is open. The pipeline's shape depends on
    // the mode, so the device is opened once alone to learn them.
    GstElement* src = gst_element_factory_make("v4l2src", nullptr);
    if (!src)
        return std::nullopt;  // the pipeline cannot be made either, and start() says why
    g_object_set(src, "device", argument.c_str(), nullptr);
    std::optional<WebcamMode> chosen;
    if (gst_element_set_state(src, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
        GstPad* pad = gst_element_get_static_pad(src, "src");
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        const std::vector<WebcamMode> modes = modesOf(caps);
        const int index = chooseWebcamMode(modes);
        if (index >= 0)
            chosen = modes[std::size_t(index)];
        if (caps)
            gst_caps_unref(caps);
        gst_object_unref(pad);
    }
    // Without a mode (the device is gone, or busy), the pipeline opens it again and start()
    // reports why it could not.
    gst_element_set_state(src, GST_STATE_NULL);
    gst_object_unref(src);
    return chosen;
}

void GstSource::applyMode(const WebcamMode& m)
{
    GstCaps* wanted = gst_caps_new_simple(m.raw ? "video/x-raw" : "image/jpeg", "width", G_TYPE_INT,
                                          m.width, "height", G_TYPE_INT, m.height, "framerate",
                                          GST_TYPE_FRACTION, m.rateNum, m.rateDen, nullptr);
    if (m.raw) {
        gst_caps_set_simple(wanted, "format", G_TYPE_STRING,
                            m.format == "YUYV" ? "YUY2" : m.format.c_str(), nullptr);
    }
    GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), "cardcaps");
    g_object_set(filter, "caps", wanted, nullptr);
    gst_object_unref(filter);
    gst_caps_unref(wanted);
    // Scaled before the conversion of the whole frame to the card's pixels.
    if (GstElement* scale = gst_bin_get_by_name(GST_BIN(pipeline), "cardscale")) {
        const FrameSize size = leastCoveringSize(m.width, m.height);
        GstCaps* scaled = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, size.width,
                                              "height", G_TYPE_INT, size.height,
                                              "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                                              nullptr);
        g_object_set(scale, "caps", scaled, nullptr);
        gst_object_unref(scale);
        gst_caps_unref(scaled);
    }
    const std::string text = describe() + ' ' + describeMode(m);
    if (text != reportedMode && modeChosen) {
        reportedMode = text;
        modeChosen(text);
    }
}

std::shared_ptr<SourceFrame> GstSource::frameToFill()
{
    // A webcam's frame is up to a megabyte: a new one thirty times a second costs more in
    // the kernel's page faults and the zeroing of it than filling it does.
    for (const auto& frame : frames) {
        if (frame.use_count() == 1) {
            // Pairs with the release of the last other owner's reference.
            std::atomic_thread_fence(std::memory_order_acquire);
            return frame;
        }
    }
    // The newest frame, one a reader holds and one being filled, plus a capture's.
    constexpr std::size_t kept = 4;
    auto frame = std::make_shared<SourceFrame>();
    if (frames.size() < kept)
        frames.push_back(frame);
    return frame;
}

int GstSource::onSample(_GstAppSink* sink, void* self)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    const GstCaps* caps = gst_sample_get_caps(sample);
    if (caps && gst_caps_get_size(caps) > 0
        && gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg")) {
        GstMapInfo map;
        if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
            auto frame = static_cast<GstSource*>(self)->frameToFill();
            std::string error;
            // A frame the webcam spoilt is left out; the next one comes a frame later.
            if (decodeJpegFrame(map.data, map.size, *frame, error))
                static_cast<GstSource*>(self)->publish(std::move(frame));
            gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    GstVideoInfo info;
    GstVideoFrame video;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&video, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        auto frame = static_cast<GstSource*>(self)->frameToFill();
        frame->width = GST_VIDEO_FRAME_WIDTH(&video);
        frame->height = GST_VIDEO_FRAME_HEIGHT(&video);
        frame->pixels.resize(std::size_t(frame->width) * std::size_t(frame->height));
        const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
        const std::size_t stride = std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0));
        for (int y = 0; y < frame->height; ++y)
            std::memcpy(frame->pixels.data() + std::size_t(y) * frame->width, data + y * stride,
                        std::size_t(frame->width) * 2);
        gst_video_frame_unmap(&video);
        static_cast<GstSource*>(self)->publish(std::move(frame));
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

std::string GstSource::busError(int waitMs)
{
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, GstClockTime(waitMs) * GST_MSECOND,
                                                 GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (!msg)
        return "cannot play";
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    gst_message_unref(msg);
    return takeError(err);
}

void GstSource::restart()
{
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    pipeline = nullptr;
    std::string error;
    if (!build(error))
        fail(error);
    else if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        fail(busError(100));
}

void GstSource::watchBus()
{
    while (!stopping) {
        if (!pipeline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 100 * GST_MSECOND, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        gst_object_unref(bus);
        if (!msg)
            continue;
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* err = nullptr;
            gst_message_parse_error(msg, &err, nullptr);
            fail(takeError(err));
        } else if (kind == Device) {
            fail("the device ended its stream");
        } else {
            // Loop with a pipeline made anew: a file is opened again, and a decoder's
            // pads are linked again.
            restart();
        }
        gst_message_unref(msg);
    }
}

bool GstSource::start(std::string& error)
{
    stop();
    clearFailure();
    if (!initialise(error) || !build(error)) {
        fail(error);
        return false;
    }
    std::uint64_t before = 0;
    newest(before);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = busError(100);
        stop();
        fail(error);
        return false;
    }
    stopping = false;
    watcher = std::thread([this] { watchBus(); });
    std::uint64_t number = 0;
    waitNewer(before, std::chrono::steady_clock::now() + std::chrono::milliseconds(firstFrameMs),
              number);
    error = failure();
    if (error.empty() && number == before)
        error = "no frame within " + std::to_string(firstFrameMs / 1000) + " s";
    if (!error.empty()) {
        stop();
        fail(error);
        return false;
    }
    return true;
}

void GstSource::stop()
{
    stopping = true;
    if (watcher.joinable())
        watcher.join();
    if (pipeline) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        pipeline = nullptr;
    }
}

}  // namespace card

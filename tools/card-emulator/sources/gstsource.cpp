#include "tools/card-emulator/sources/gstsource.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>
#include <mutex>
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
        // decodebin takes a webcam's motion JPEG as well as its raw formats.
        description = "v4l2src name=cardsrc ! capsfilter name=cardcaps ! decodebin ! "
            + std::string(sinkTail);
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
    if (kind == Device)
        preferLargestSize();
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "cardsink");
    if (!sink) {
        error = "pipeline: no app sink";
        gst_object_unref(pipeline);
        pipeline = nullptr;
        return false;
    }
    GstAppSinkCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return GstFlowReturn(onSample(s, self));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    return true;
}

void GstSource::preferLargestSize()
{
    // A device left to itself often gives its default size, not its largest; a capture
    // wants every pixel it has. The sizes are known once the device is open.
    if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return;  // start() reports why
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "cardsrc");
    GstPad* pad = gst_element_get_static_pad(src, "src");
    GstCaps* caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure* best = nullptr;
    long long bestArea = 0;
    for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
        const GstStructure* st = gst_caps_get_structure(caps, i);
        int w = 0, h = 0;
        if (gst_structure_get_int(st, "width", &w) && gst_structure_get_int(st, "height", &h)
            && (long long)w * h > bestArea) {
            best = st;
            bestArea = (long long)w * h;
        }
    }
    if (best) {
        int w = 0, h = 0;
        gst_structure_get_int(best, "width", &w);
        gst_structure_get_int(best, "height", &h);
        GstCaps* wanted = gst_caps_new_simple(gst_structure_get_name(best), "width", G_TYPE_INT,
                                              w, "height", G_TYPE_INT, h, nullptr);
        GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), "cardcaps");
        g_object_set(filter, "caps", wanted, nullptr);
        gst_object_unref(filter);
        gst_caps_unref(wanted);
    }
    if (caps)
        gst_caps_unref(caps);
    gst_object_unref(pad);
    gst_object_unref(src);
}

int GstSource::onSample(_GstAppSink* sink, void* self)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstVideoInfo info;
    GstVideoFrame video;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&video, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        auto frame = std::make_shared<SourceFrame>();
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

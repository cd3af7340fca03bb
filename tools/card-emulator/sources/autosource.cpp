#include "tools/card-emulator/sources/autosource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace card {

namespace {

bool capturesVideo(const std::string& node)
{
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability cap;
    std::memset(&cap, 0, sizeof cap);
    const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    ::close(fd);
    // A device with several nodes tells each node's own abilities apart.
    const std::uint32_t caps
        = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return queried && (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE));
}

} // namespace

std::vector<std::string> videoCaptureDevices(const std::string& folder,
                                             const CapturesVideo& captures)
{
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "video", 5) != 0 || !name[5])
                continue;
            char* end = nullptr;
            const long number = std::strtol(name + 5, &end, 10);
            if (*end || number < 0)
                continue;
            const std::string node = folder + "/" + name;
            if (captures ? captures(node) : capturesVideo(node))
                found.emplace_back(number, node);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (const auto& f : found)
        nodes.push_back(f.second);
    return nodes;
}

AutoSource::AutoSource(ListDevices l, MakeDevice m, Chosen c)
    : list(std::move(l)), make(std::move(m)), chosen(std::move(c))
{
}

AutoSource::~AutoSource()
{
    stop();
}

bool AutoSource::start(std::string&)
{
    stop();
    quit = false;
    seen.clear();
    unchangedLooks = 0;
    choose();
    if (!device)
        chosen("pattern");
    thread = std::thread([this] { loop(); });
    return true;
}

void AutoSource::stop()
{
    {
        std::lock_guard<std::mutex> g(lock);
        quit = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
    device = nullptr;
    if (owned)
        owned->stop();
    owned.reset();
}

// Tries every device in order when the set of devices changed since the last look, or
// when it stayed the same for a while: a device busy a moment ago may work now.
void AutoSource::choose()
{
    const std::vector<std::string> now = list();
    if (now == seen && ++unchangedLooks < retryLooks)
        return;
    seen = now;
    unchangedLooks = 0;
    for (const std::string& node : now) {
        std::unique_ptr<FrameSource> candidate = make(node);
        std::string error;
        if (candidate && candidate->start(error)) {
            owned = std::move(candidate);
            device = owned.get();
            chosen(owned->describe());
            return;
        }
    }
}

void AutoSource::loop()
{
    using namespace std::chrono;
    std::uint64_t forwarded = 0;
    std::unique_lock<std::mutex> g(lock);
    while (!quit) {
        if (FrameSource* d = device) {
            // The device's frames become ours, so the card reads one store.
            g.unlock();
            std::uint64_t number = 0;
            FramePtr frame = d->waitNewer(forwarded, steady_clock::now() + milliseconds(100), number);
            if (number > forwarded) {
                forwarded = number;
                publish(std::move(frame));
            }
            const bool failed = !d->failure().empty();
            g.lock();
            if (failed) {
                device = nullptr;
                owned->stop();
                owned.reset();
                forwarded = 0;
                // The failed device is tried again once the devices change, or later.
                chosen("pattern");
            }
            continue;
        }
        wake.wait_for(g, milliseconds(lookMs), [this] { return quit; });
        if (quit)
            break;
        g.unlock();
        choose();
        g.lock();
    }
}

} // namespace card

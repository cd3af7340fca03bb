// The least a camera on this card must do, with no toolkit: every 10 ms a status read,
// then M=0, one 153,600-byte preview frame read, M=1 and "C". When the status word says the
// card's button is pressed and a FOLDER is given, it takes the picture instead: the
// capture geometry, M=0, one 480x640 read, M=1, the plain 5-6-5 to RGB loop and
// libjpeg-turbo into memory, an unnamed file in FOLDER written and synced, linked at its
// numbered name (picNNNN.jpg), the folder synced, then "B" and the preview geometry again.
//
//   bench_bare_loop NODE [FOLDER [QUALITY]]
//
// Runs until SIGTERM or SIGINT. Prints "ready" once the preview geometry is sent and, per
// picture, "saved NAME". No frame is shown anywhere: this is the wire work alone.
#include "bench/support/plainjpeg.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

void onSignal(int)
{
    stopping = 1;
}

bool command(int fd, const char* text)
{
    const size_t n = std::strlen(text);
    return ::write(fd, text, n) == ssize_t(n);
}

bool readExactly(int fd, void* buffer, size_t size)
{
    return ::read(fd, buffer, size) == ssize_t(size);
}

// Status bits as the application reads them: a capital letter is a set bit.
int status(int fd)
{
    unsigned char word[4] = {};
    if (!readExactly(fd, word, sizeof word))
        return -1;
    int bits = 0;
    for (int i = 0; i < 4; ++i)
        if (word[i] >= 'A' && word[i] <= 'Z')
            bits |= 1 << i;
    return bits;
}

bool writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Written in full and synced before it has a name, so that the name never shows a part.
bool place(const std::string& folder, const std::string& name,
           const std::vector<unsigned char>& jpeg)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const std::string target = folder + "/" + name;
    bool ok = writeAll(fd, jpeg.data(), jpeg.size())
        && (::fdatasync(fd) == 0 || errno == EINVAL)
        && ::linkat(AT_FDCWD, self, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
    ::close(fd);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && (::fsync(dir) == 0 || errno == EINVAL);
    if (dir >= 0)
        ::close(dir);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: bench_bare_loop NODE [FOLDER [QUALITY]]\n");
        return 2;
    }
    const std::string folder = argc > 2 ? argv[2] : "";
    const int quality = argc > 3 ? std::atoi(argv[3]) : 30;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    const int fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr int previewW = 240, previewH = 320, captureW = 480, captureH = 640;
    std::vector<std::uint16_t> preview(size_t(previewW) * previewH);
    std::vector<std::uint16_t> capture(size_t(captureW) * captureH);
    std::vector<unsigned char> rgb, jpeg;
    char geometry[64];
    // The window's 240x160 viewfinder in the top of a 240x320 image, upright, no zoom.
    std::snprintf(geometry, sizeof geometry, "R=%d,%d,256,%d", previewW, previewH / 2, previewW * 2);
    command(fd, "M=1");
    command(fd, geometry);
    std::printf("ready\n");
    std::fflush(stdout);

    int serial = 0;
    const timespec tick = {0, 10 * 1000 * 1000};
    while (!stopping) {
        ::nanosleep(&tick, nullptr);
        const int bits = status(fd);
        if (bits < 0)
            break;
        if ((bits & 1) && !folder.empty()) {
            char captureGeometry[64];
            std::snprintf(captureGeometry, sizeof captureGeometry, "R=%d,%d,256,%d", captureW,
                          captureH, captureW * 2);
            command(fd, captureGeometry);
            command(fd, "M=0");
            const bool read = readExactly(fd, capture.data(), capture.size() * 2);
            command(fd, "M=1");
            if (read) {
                bench::expand565(capture.data(), captureW, captureH, size_t(captureW) * 2, rgb);
                bench::encodeJpeg(rgb, captureW, captureH, quality, 96, 96, nullptr, &jpeg);
                char name[32];
                std::snprintf(name, sizeof name, "pic%04d.jpg", ++serial);
                if (place(folder, name, jpeg))
                    std::printf("saved %s\n", name);
                else
                    std::printf("failed %s\n", name);
                std::fflush(stdout);
            }
            command(fd, "B");
            command(fd, geometry);
            continue;
        }
        if (bits & 4)
            continue;
        command(fd, "M=0");
        readExactly(fd, preview.data(), preview.size() * 2);
        command(fd, "M=1");
        command(fd, "C");
    }
    command(fd, "M=0");
    ::close(fd);
    return 0;
}

/*
 * camera-card-client: talks to a camera card node the way the camera application does,
 * for tests and for checking a node by hand.
 *
 *   camera-card-client NODE OPERATION...
 *   camera-card-client --help | --version
 *
 * The node is opened once (read-write, blocking; "ioctl" alone opens it non-blocking like
 * the buzzer's users do) and the operations run in order on that one descriptor:
 *   status          read the 4-byte status word; prints e.g. "SoWP 0x0d"
 *   write TEXT      one write() of exactly TEXT (no newline)
 *   frame N         one read() of N bytes, written raw to stdout
 *   ioctl REQ ARG   one ioctl with the request (0x... or decimal) and the integer argument
 * Example: camera-card-client /tmp/card/vdc write R=240,160,256,480 write M=0 \
 *              frame 153600 write M=1 > frame.raw
 * Exits 1 at the first operation that does not transfer exactly what was asked.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

class Fd {
public:
    explicit Fd(int fd) : value(fd) {}
    ~Fd()
    {
        if (value >= 0)
            ::close(value);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return value; }

private:
    int value;
};

bool parseNumber(const char* text, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 0);
    return errno == 0 && end != text && *end == '\0';
}

int fail(const char* what)
{
    std::fprintf(stderr, "camera-card-client: %s: %s\n", what, std::strerror(errno));
    return 1;
}

int usage(std::FILE* out = stderr)
{
    std::fprintf(out, "usage: camera-card-client NODE {status | write TEXT | frame N | "
                      "ioctl REQ ARG}...\n"
                      "       camera-card-client --help | --version\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // A node's path never starts with a dash: such a first argument is an option.
    if (argc >= 2 && argv[1][0] == '-') {
        const std::string_view option = argv[1];
        if (option == "--help" || option == "-h") {
            usage(stdout);
            return 0;
        }
        if (option == "--version" || option == "-v") {
            std::printf("camera-card-client %s\n", CAMERA_VERSION);
            return 0;
        }
        return usage();
    }
    if (argc < 3)
        return usage();
    const bool buzzerOnly = std::strcmp(argv[2], "ioctl") == 0;
    Fd fd(::open(argv[1], buzzerOnly ? O_RDWR | O_NONBLOCK : O_RDWR));
    if (fd.get() < 0)
        return fail(argv[1]);

    for (int i = 2; i < argc; ++i) {
        const char* op = argv[i];
        if (std::strcmp(op, "status") == 0) {
            unsigned char word[4] = {0, 0, 0, 0};
            const ssize_t n = ::read(fd.get(), word, 4);
            if (n != 4)
                return n < 0 ? fail("status") : (std::fprintf(stderr, "short status\n"), 1);
            int bits = 0;
            for (int b = 0; b < 4; ++b)
                bits |= (word[b] >= 'A' && word[b] <= 'Z') << b;
            std::printf("%c%c%c%c 0x%02x\n", word[0], word[1], word[2], word[3], bits);
        } else if (std::strcmp(op, "write") == 0 && i + 1 < argc) {
            const char* text = argv[++i];
            const size_t length = std::strlen(text);
            if (::write(fd.get(), text, length) != ssize_t(length))
                return fail("write");
        } else if (std::strcmp(op, "frame") == 0 && i + 1 < argc) {
            long size = 0;
            if (!parseNumber(argv[++i], size) || size <= 0 || size > 16 * 1024 * 1024)
                return usage();
            std::vector<char> buffer(size_t(size), 0);
            const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
            if (n < 0)
                return fail("frame");
            std::fwrite(buffer.data(), 1, size_t(n), stdout);
            if (n != size) {
                std::fprintf(stderr, "camera-card-client: frame: %zd of %ld bytes\n", n, size);
                return 1;
            }
        } else if (std::strcmp(op, "ioctl") == 0 && i + 2 < argc) {
            long request = 0, argument = 0;
            if (!parseNumber(argv[i + 1], request) || !parseNumber(argv[i + 2], argument))
                return usage();
            i += 2;
            if (::ioctl(fd.get(), (unsigned long)request, argument) < 0)
                return fail("ioctl");
        } else {
            return usage();
        }
    }
    std::fflush(stdout);
    return 0;
}

#pragma once
// The operation log: one line per operation on the card, flushed at once, in the order the
// card saw them. Tests of the whole application read it, so its lines are a contract:
//   open                 the camera node opened ("open ENODEV" when no card is plugged)
//   close                a descriptor of the camera node released
//   write <bytes>        one write, its bytes as one token (see escapeBytes); a suffix
//                        " EIO" when it failed, " ignored <why>" when it did not parse
//   read <asked> <got>   one read and the bytes it returned, or "read <asked> EIO"
//   ioctl <req> <arg>    a buzzer request in hex and its argument, e.g. "ioctl 0x5680 2";
//                        a suffix " ENOTTY"/" EINVAL" when refused
//   control <command>    one control command as applied; a refused write is logged whole
//                        with the suffix " EINVAL"
//   source error <why>   the picture source failed: the card reports itself absent
//   source ok            the source works again after a failure
//   source auto <which>  --source auto took this source, e.g. "v4l2:/dev/video0", "pattern"
//   source <device> <mode>  the mode a webcam was set to, e.g.
//                        "source v4l2:/dev/video0 YUYV 640x480 30/1"
// The buzzer's own open and close are not logged.
#include "tools/card-emulator/core/cardstate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace card {

class CardLog {
public:
    CardLog() = default;
    ~CardLog();
    CardLog(const CardLog&) = delete;
    CardLog& operator=(const CardLog&) = delete;

    bool openFile(const char* path);
    // Lines go to a callback instead of a file; for tests.
    void setSink(void (*sink)(void* context, const std::string& line), void* context);

    void open(int error);
    void close();
    void write(const char* data, std::size_t length, const WriteOutcome& outcome);
    void read(std::size_t asked, std::size_t returned, int error);
    void ioctl(const char* what, unsigned request, std::uintptr_t argument, int error);
    void control(const char* data, std::size_t length, bool accepted);
    void source(bool working, const std::string& reason);
    void sourceChosen(const std::string& which);
    void sourceMode(const std::string& mode);

    static const char* errorName(int error);

private:
    void line(const std::string& text);

    std::FILE* file = nullptr;
    void (*sinkFn)(void*, const std::string&) = nullptr;
    void* sinkContext = nullptr;
};

}  // namespace card

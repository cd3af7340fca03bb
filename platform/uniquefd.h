#pragma once
// An owned file descriptor: closed when its holder goes, so no early return leaks one.
#include <unistd.h>

#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd; }
    bool valid() const { return fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd, -1); }
    // Closes the one held, if any, and holds `other`.
    void reset(int other = -1)
    {
        if (fd >= 0 && fd != other)
            ::close(fd);
        fd = other;
    }
    // Closes now, for a caller that needs close()'s result: some file systems report a
    // failed write-back only there. 0 when nothing was held.
    int close() { return fd >= 0 ? ::close(release()) : 0; }

private:
    int fd = -1;
};

#pragma once
// Watches the folder syncs of the test's own process: the test executable's fsync() takes
// the place of the C library's for every caller in it (the linker prefers the executable's
// definition), notes each sync of a folder with what a callback then sees, and can make
// them fail; its fdatasync() can make a file's data sync fail. Include in one file of a
// test executable only.
#include <QByteArray>
#include <QList>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace syncspy {

struct FolderSync {
    QByteArray folder;
    QByteArray seen; // what `look` returned at the moment of the sync
};

struct State {
    bool watching = false;
    int folderError = 0; // errno a folder sync fails with; 0: it is done
    int fileError = 0;   // errno a file's data sync fails with; 0: it is done
    std::function<QByteArray()> look;
    QList<FolderSync> syncs;
};

inline State& state()
{
    static State s;
    return s;
}

// Watches from construction to destruction.
class Watch {
public:
    explicit Watch(std::function<QByteArray()> look, int folderError = 0, int fileError = 0)
    {
        state() = State{true, folderError, fileError, std::move(look), {}};
    }
    ~Watch() { state() = State(); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    const QList<FolderSync>& syncs() const { return state().syncs; }
};

inline QByteArray pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target);
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}

} // namespace syncspy

extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    syncspy::State& s = syncspy::state();
    struct stat st;
    if (s.watching && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        s.syncs.append({syncspy::pathOf(fd), s.look ? s.look() : QByteArray()});
        if (s.folderError != 0) {
            errno = s.folderError;
            return -1;
        }
    }
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"));
    const syncspy::State& s = syncspy::state();
    if (s.watching && s.fileError != 0) {
        errno = s.fileError;
        return -1;
    }
    return real(fd);
}

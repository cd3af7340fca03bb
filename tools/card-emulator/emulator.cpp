/*
 * camera-card-emulator: the camera card and its buzzer as a FUSE file system, in place of
 * the card's kernel driver, so that the camera application runs on any Linux machine.
 *
 *   camera-card-emulator --mount DIR [--owner USER[:GROUP]] [--link] [--user NAME]
 *                        [--log FILE] [--source SOURCE] [--frame-ms N]
 *   camera-card-emulator --mount DIR --release
 *   camera-card-emulator --help | --version
 *
 * DIR (created if missing) then holds
 *   vdc      the camera node: one write() is one command ("M=%d", "R=w,h,zoom,stride",
 *            "S=...", "B", "C"), a read() of 4 bytes the status word, a read() of any other
 *            length one frame of exactly that length (RGB 5-6-5);
 *   buz      the buzzer node: ioctl 0x5680 with the argument 2;
 *   control  one command a line: shutter, orientation 0|1, busy 0|1, present 0|1, unplug,
 *            plug, fail-reads N, short-read N, fail-writes N, frame-ms N. Reading it shows
 *            the card's state and counters.
 *
 * Like real device nodes, vdc and buz belong to the owner (--owner; by default the user who
 * started the emulator, or SUDO_USER under sudo) and a group (by default "video" where it
 * exists) with mode 0660; control is 0600 for whoever started the emulator. The kernel
 * checks these modes (default_permissions), so any other account gets EACCES on open.
 *
 * "ready" on stdout means the mount is usable. SIGINT or SIGTERM unmounts and exits.
 * --link (root only) points /dev/orvane_vdc and /dev/orvane_buz at DIR/vdc and DIR/buz for
 * the run. --user NAME (root only): once mounted and linked, the emulator becomes NAME (its
 * groups, no capabilities, no new privileges) for good, before it opens its source or log;
 * it can then neither unmount nor unlink, which --release does as root afterwards: it
 * removes the /dev links that point into DIR and detaches the mount at DIR.
 * --log FILE writes one line per operation (see core/cardlog.h); without it the source's
 * failures go to standard error as "source error REASON".
 * --source SOURCE: what the sensor sees (see sources/sources.h): the synthetic test card, a
 * still image, a video, a webcam, a GStreamer pipeline, or "auto", the first webcam that
 * delivers frames, else the test card. A frame read waits for a source
 * frame newer than the last one delivered, one second at most; a source that fails makes
 * the card report itself absent until it works again. --scene FILE is --source image:FILE.
 *
 * Example:
 *   camera-card-emulator --mount /tmp/card &
 *   echo shutter > /tmp/card/control
 *   camera-card-client /tmp/card/vdc status
 */
#define FUSE_USE_VERSION 312

#include "platform/devicenodes.h"
#include "tools/card-emulator/core/cardlog.h"
#include "tools/card-emulator/core/cardstate.h"
#include "tools/card-emulator/core/picturerenderer.h"
#include "tools/card-emulator/core/scene.h"
#include "tools/card-emulator/sources/sources.h"

#include <fuse_lowlevel.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum Inode : fuse_ino_t { RootIno = FUSE_ROOT_ID, VdcIno, BuzIno, ControlIno };

struct NodeEntry {
    const char* name;
    fuse_ino_t ino;
};
constexpr NodeEntry nodes[] = {{"vdc", VdcIno}, {"buz", BuzIno}, {"control", ControlIno}};

// One request of up to this many bytes reaches us whole: a full 640x480 frame and more.
constexpr unsigned maxTransfer = 1024 * 1024;

struct Emulator {
    std::mutex lock;  // guards state, renderers, the log's order and `delivered`
    card::CardState state;
    card::TestCardScene scene;
    card::FrameRenderer renderer{scene};
    std::unique_ptr<card::FrameSource> source;  // none: the test card
    card::PictureRenderer pictures;
    std::uint64_t delivered = 0;  // the number of the last source frame read
    bool sourceWorking = true;
    std::string sourceFailure;
    card::CardLog log;
};

// A stalled source delivers its last frame again after this long.
constexpr int staleFrameMs = 1000;

Emulator* emu = nullptr;

// Who the nodes belong to: the camera's user for vdc and buz, the emulator's for the rest.
struct Ownership {
    uid_t owner = 0;
    gid_t group = 0;
    uid_t starter = 0;
    gid_t starterGroup = 0;
};
Ownership ownership;

std::uint64_t nowMs()
{
    using namespace std::chrono;
    return std::uint64_t(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::vector<std::uint8_t>& replyBuffer(std::size_t size)
{
    thread_local std::vector<std::uint8_t> buffer;
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer;
}

void fillAttr(fuse_ino_t ino, struct stat& st)
{
    std::memset(&st, 0, sizeof st);
    st.st_ino = ino;
    st.st_uid = ownership.starter;
    st.st_gid = ownership.starterGroup;
    st.st_nlink = 1;
    if (ino == RootIno) {
        st.st_mode = S_IFDIR | 0755;
        st.st_nlink = 2;
    } else if (ino == ControlIno) {
        // Faults, unplugging and the shutter are the operator's, not the camera user's.
        st.st_mode = S_IFREG | 0600;
    } else {
        st.st_mode = S_IFREG | 0660;
        st.st_uid = ownership.owner;
        st.st_gid = ownership.group;
    }
}

bool knownInode(fuse_ino_t ino)
{
    return ino >= RootIno && ino <= ControlIno;
}

void cardInit(void*, struct fuse_conn_info* conn)
{
    // Kernel and library both cap a request; raise both caps so that one read() of a
    // frame is one request. max_pages follows max_write inside the library.
    conn->max_write = maxTransfer;
    conn->max_read = maxTransfer;
}

void cardLookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    if (parent != RootIno) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    for (const NodeEntry& n : nodes) {
        if (std::strcmp(name, n.name) == 0) {
            fuse_entry_param e;
            std::memset(&e, 0, sizeof e);
            e.ino = n.ino;
            e.attr_timeout = 1.0;
            e.entry_timeout = 1.0;
            fillAttr(n.ino, e.attr);
            fuse_reply_entry(req, &e);
            return;
        }
    }
    fuse_reply_err(req, ENOENT);
}

void cardGetattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info*)
{
    if (!knownInode(ino)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct stat st;
    fillAttr(ino, st);
    fuse_reply_attr(req, &st, 1.0);
}

// "echo x > control" truncates first; the nodes have no size, so that changes nothing.
void cardSetattr(fuse_req_t req, fuse_ino_t ino, struct stat*, int, struct fuse_file_info* fi)
{
    cardGetattr(req, ino, fi);
}

void cardReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info*)
{
    if (ino != RootIno) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    struct Item {
        const char* name;
        fuse_ino_t ino;
    };
    const Item items[] = {{".", RootIno}, {"..", RootIno}, {"vdc", VdcIno}, {"buz", BuzIno},
                          {"control", ControlIno}};
    std::vector<char> buf(size);
    size_t used = 0;
    for (off_t i = off; i < off_t(sizeof items / sizeof items[0]); ++i) {
        struct stat st;
        fillAttr(items[i].ino, st);
        const size_t need = fuse_add_direntry(req, buf.data() + used, size - used,
                                              items[i].name, &st, i + 1);
        if (need > size - used)
            break;
        used += need;
    }
    fuse_reply_buf(req, buf.data(), used);
}

void cardOpen(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    if (ino == RootIno) {
        fuse_reply_err(req, EISDIR);
        return;
    }
    // Every read() and write() must reach us as it was made: no page cache, no seeking.
    fi->direct_io = 1;
    if (ino == VdcIno) {
        std::uint64_t handle = 0;
        int error;
        {
            std::lock_guard<std::mutex> g(emu->lock);
            error = emu->state.open(handle);
            emu->log.open(error);
        }
        if (error) {
            fuse_reply_err(req, error);
            return;
        }
        fi->fh = handle;
        fi->nonseekable = 1;
    } else if (ino == BuzIno) {
        fi->nonseekable = 1;
    }
    fuse_reply_open(req, fi);
}

void cardRelease(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info*)
{
    if (ino == VdcIno) {
        std::lock_guard<std::mutex> g(emu->lock);
        emu->log.close();
    }
    fuse_reply_err(req, 0);
}

void readVdc(fuse_req_t req, size_t size, struct fuse_file_info* fi)
{
    int delayMs = 0;
    if (size != 4) {
        std::lock_guard<std::mutex> g(emu->lock);
        delayMs = emu->state.frameDelayMs();
    }
    // The wait for the next frame holds no lock: control writes go on meanwhile.
    const auto begin = std::chrono::steady_clock::now();
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const bool sourced = emu->source && emu->source->hasFrames();
    if (size != 4 && sourced && !emu->source->still()) {
        std::uint64_t after;
        {
            std::lock_guard<std::mutex> g(emu->lock);
            after = emu->delivered;
        }
        std::uint64_t number;
        emu->source->waitNewer(after, begin + std::chrono::milliseconds(staleFrameMs), number);
    }

    std::vector<std::uint8_t>& buffer = replyBuffer(size);
    card::ReadPlan plan;
    {
        std::lock_guard<std::mutex> g(emu->lock);
        plan = emu->state.read(size, fi->fh, nowMs());
        if (!plan.error) {
            if (plan.status)
                std::memcpy(buffer.data(), plan.word.data(), 4);
            else if (sourced) {
                const card::FramePtr frame = emu->source->newest(emu->delivered);
                emu->pictures.render(emu->state.geometry(), emu->state.mode(), frame,
                                     emu->delivered, buffer.data(), size);
            } else
                emu->renderer.render(emu->state.geometry(), emu->state.mode(), plan.time,
                                     buffer.data(), size);
        }
        emu->log.read(size, plan.length, plan.error);
    }
    if (plan.error)
        fuse_reply_err(req, plan.error);
    else
        fuse_reply_buf(req, reinterpret_cast<const char*>(buffer.data()), plan.length);
}

void readControl(fuse_req_t req, size_t size, off_t off)
{
    std::string text;
    {
        std::lock_guard<std::mutex> g(emu->lock);
        text = emu->state.describe();
    }
    // The frames the source has delivered so far: what a reader can at most have seen.
    if (emu->source) {
        std::uint64_t number = 0;
        emu->source->newest(number);
        text += "source-frames " + std::to_string(number) + "\n";
    }
    if (off < 0 || size_t(off) >= text.size()) {
        fuse_reply_buf(req, nullptr, 0);
        return;
    }
    const size_t n = std::min(size, text.size() - size_t(off));
    fuse_reply_buf(req, text.data() + off, n);
}

void cardRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info* fi)
{
    if (ino == VdcIno)
        readVdc(req, size, fi);
    else if (ino == ControlIno)
        readControl(req, size, off);
    else
        fuse_reply_err(req, EINVAL);
}

void cardWrite(fuse_req_t req, fuse_ino_t ino, const char* data, size_t size, off_t,
               struct fuse_file_info* fi)
{
    if (ino == VdcIno) {
        card::WriteOutcome out;
        {
            std::lock_guard<std::mutex> g(emu->lock);
            out = emu->state.write(data, size, fi->fh, nowMs());
            emu->log.write(data, size, out);
        }
        if (out.error)
            fuse_reply_err(req, out.error);
        else
            fuse_reply_write(req, size);
        return;
    }
    if (ino == ControlIno) {
        std::vector<card::ControlCommand> commands;
        const bool ok = card::parseControlText(data, size, commands);
        {
            std::lock_guard<std::mutex> g(emu->lock);
            emu->log.control(data, size, ok);
            if (ok) {
                for (const card::ControlCommand& c : commands)
                    emu->state.apply(c, nowMs());
            }
        }
        if (ok)
            fuse_reply_write(req, size);
        else
            fuse_reply_err(req, EINVAL);
        return;
    }
    fuse_reply_err(req, EINVAL);
}

void cardIoctl(fuse_req_t req, fuse_ino_t ino, unsigned int cmd, void* arg,
               struct fuse_file_info*, unsigned, const void*, size_t, size_t)
{
    // Restricted ioctl: a request without a data direction hands its argument over as the
    // pointer's value.
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(arg);
    int error = ENOTTY;
    {
        std::lock_guard<std::mutex> g(emu->lock);
        if (ino == BuzIno)
            error = emu->state.buzzer(cmd, value) ? 0 : (cmd == 0x5680 ? EINVAL : ENOTTY);
        emu->log.ioctl(ino == BuzIno ? "ioctl" : "other ioctl", cmd, value, error);
    }
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_ioctl(req, 0, nullptr, 0);
}

const struct fuse_lowlevel_ops cardOps = [] {
    struct fuse_lowlevel_ops ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = cardInit;
    ops.lookup = cardLookup;
    ops.getattr = cardGetattr;
    ops.setattr = cardSetattr;
    ops.readdir = cardReaddir;
    ops.open = cardOpen;
    ops.release = cardRelease;
    ops.read = cardRead;
    ops.write = cardWrite;
    ops.ioctl = cardIoctl;
    return ops;
}();

// ---- command line, links ------------------------------------------------------------

struct Options {
    std::string mount;
    std::string logFile;
    std::string source = "pattern";
    std::string owner;
    std::string user;
    bool link = false;
    bool release = false;
    int frameMs = 30;
};

void usage(std::FILE* out = stderr)
{
    std::fprintf(out, "usage: camera-card-emulator --mount DIR [--owner USER[:GROUP]] [--link] "
                      "[--user NAME] [--log FILE] [--source SOURCE] [--frame-ms N]\n"
                      "       camera-card-emulator --mount DIR --release\nsources:\n%s",
                 card::sourceHelp().c_str());
}

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--mount" && hasValue)
            o.mount = argv[++i];
        else if (a == "--log" && hasValue)
            o.logFile = argv[++i];
        else if (a == "--source" && hasValue)
            o.source = argv[++i];
        else if (a == "--scene" && hasValue)
            o.source = std::string("image:") + argv[++i];
        else if (a == "--owner" && hasValue)
            o.owner = argv[++i];
        else if (a == "--user" && hasValue)
            o.user = argv[++i];
        else if (a == "--frame-ms" && hasValue) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end || v < 0 || v > 10000)
                return false;
            o.frameMs = int(v);
        } else if (a == "--link")
            o.link = true;
        else if (a == "--release")
            o.release = true;
        else
            return false;
    }
    return !o.mount.empty();
}

// A name, or a number as chown takes it.
bool lookUpUser(const std::string& name, uid_t& uid, gid_t& primary)
{
    if (const passwd* pw = getpwnam(name.c_str())) {
        uid = pw->pw_uid;
        primary = pw->pw_gid;
        return true;
    }
    char* end = nullptr;
    const unsigned long n = std::strtoul(name.c_str(), &end, 10);
    if (name.empty() || *end || n >= 0xffffffffUL)
        return false;
    uid = uid_t(n);
    const passwd* pw = getpwuid(uid);
    primary = pw ? pw->pw_gid : gid_t(n);
    return true;
}

bool lookUpGroup(const std::string& name, gid_t& gid)
{
    if (const group* gr = getgrnam(name.c_str())) {
        gid = gr->gr_gid;
        return true;
    }
    char* end = nullptr;
    const unsigned long n = std::strtoul(name.c_str(), &end, 10);
    if (name.empty() || *end || n >= 0xffffffffUL)
        return false;
    gid = gid_t(n);
    return true;
}

// "USER[:GROUP]"; without one, the user sudo was run by, else the one who started us.
bool resolveOwnership(const std::string& given, Ownership& o)
{
    o.starter = getuid();
    o.starterGroup = getgid();
    std::string user = given.substr(0, given.find(':'));
    const std::string groupName =
        given.find(':') == std::string::npos ? std::string() : given.substr(given.find(':') + 1);
    const char* sudoUser = std::getenv("SUDO_USER");
    if (user.empty() && geteuid() == 0 && sudoUser && *sudoUser)
        user = sudoUser;
    gid_t primary = o.starterGroup;
    o.owner = o.starter;
    if (!user.empty() && !lookUpUser(user, o.owner, primary)) {
        std::fprintf(stderr, "camera-card-emulator: no user %s\n", user.c_str());
        return false;
    }
    if (!groupName.empty()) {
        if (!lookUpGroup(groupName, o.group)) {
            std::fprintf(stderr, "camera-card-emulator: no group %s\n", groupName.c_str());
            return false;
        }
    } else if (const group* video = getgrnam("video")) {
        o.group = video->gr_gid;
    } else {
        o.group = primary;
    }
    return true;
}

// --help and --version win over every other argument; -1 when neither is given.
int answerInfoOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            std::printf("Control commands (one a line to DIR/control), the log's lines and the "
                        "files: see camera-card-emulator(1).\n");
            return 0;
        }
        if (a == "--version" || a == "-v") {
            std::printf("camera-card-emulator %s\n", CAMERA_VERSION);
            return 0;
        }
    }
    return -1;
}

// The source's state reaches the status word and, when it changes, the log.
void reportSource(bool working, const std::string& reason)
{
    std::lock_guard<std::mutex> g(emu->lock);
    emu->state.setSource(working, reason);
    if (working != emu->sourceWorking || (!working && reason != emu->sourceFailure))
        emu->log.source(working, reason);
    emu->sourceWorking = working;
    emu->sourceFailure = reason;
}

constexpr const char* linkPaths[2] = {pdaCameraNode, pdaBuzzerNode};
constexpr const char* linkTargets[2] = {"vdc", "buz"};

// A link is ours when it is a symbolic link to our node (perhaps left by an earlier run).
bool isOurLink(const std::filesystem::path& at, const std::filesystem::path& target)
{
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, ec)))
        return false;
    return std::filesystem::read_symlink(at, ec) == target && !ec;
}

class DeviceLinks {
public:
    bool create(const std::filesystem::path& mount)
    {
        for (int i = 0; i < 2; ++i) {
            const std::filesystem::path target = mount / linkTargets[i];
            std::error_code ec;
            const auto st = std::filesystem::symlink_status(linkPaths[i], ec);
            if (std::filesystem::exists(st) || std::filesystem::is_symlink(st)) {
                if (!isOurLink(linkPaths[i], target)) {
                    std::fprintf(stderr, "camera-card-emulator: %s exists and is not our link\n",
                                 linkPaths[i]);
                    return false;
                }
                std::filesystem::remove(linkPaths[i], ec);
            }
            std::filesystem::create_symlink(target, linkPaths[i], ec);
            if (ec) {
                std::fprintf(stderr, "camera-card-emulator: cannot link %s: %s\n", linkPaths[i],
                             ec.message().c_str());
                return false;
            }
            made[i] = target;
        }
        return true;
    }
    ~DeviceLinks()
    {
        for (int i = 0; i < 2; ++i) {
            if (!made[i].empty())
                removeLink(i, made[i].parent_path());
        }
    }
    // The link to MOUNT's node, when it is ours; true when none is left.
    static bool removeLink(int i, const std::filesystem::path& mount)
    {
        std::error_code ec;
        if (isOurLink(linkPaths[i], mount / linkTargets[i]))
            std::filesystem::remove(linkPaths[i], ec);
        return !ec;
    }

private:
    std::filesystem::path made[2];
};

// Becomes `name` for good: its groups, no capabilities (a change of every uid from 0 drops
// them all) and no way back through a set-user-ID program.
bool becomeUser(const std::string& name)
{
    const passwd* pw = getpwnam(name.c_str());
    if (!pw) {
        std::fprintf(stderr, "camera-card-emulator: no user %s\n", name.c_str());
        return false;
    }
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    if (uid == 0 || initgroups(name.c_str(), gid) != 0 || setresgid(gid, gid, gid) != 0
        || setresuid(uid, uid, uid) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || setresuid(0, 0, 0) == 0) {
        std::fprintf(stderr, "camera-card-emulator: cannot become %s: %s\n", name.c_str(),
                     uid == 0 ? "it is root" : std::strerror(errno));
        return false;
    }
    return true;
}

// The /dev links into `mount` and the mount itself, left by a run that gave up root.
int release(const std::filesystem::path& mount)
{
    bool ok = true;
    for (int i = 0; i < 2; ++i)
        ok = DeviceLinks::removeLink(i, mount) && ok;
    if (umount2(mount.c_str(), MNT_DETACH) != 0 && errno != EINVAL && errno != ENOENT) {
        std::fprintf(stderr, "camera-card-emulator: cannot unmount %s: %s\n", mount.c_str(),
                     std::strerror(errno));
        ok = false;
    }
    return ok ? 0 : 1;
}

struct ArgsHolder {
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    ~ArgsHolder() { fuse_opt_free_args(&args); }
};

}  // namespace

int main(int argc, char** argv)
{
    if (const int answered = answerInfoOption(argc, argv); answered >= 0)
        return answered;
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::error_code ec;
    if (options.release)
        return release(std::filesystem::absolute(options.mount, ec));
    if (!resolveOwnership(options.owner, ownership))
        return 2;
    if ((options.link || !options.user.empty()) && geteuid() != 0) {
        std::fprintf(stderr, "camera-card-emulator: --link and --user need root\n");
        return 2;
    }
    std::filesystem::create_directories(options.mount, ec);
    const std::filesystem::path mount = std::filesystem::absolute(options.mount, ec);

    Emulator emulator;
    std::string sourceError;
    // Which source --source auto took, and in which mode, goes to the log and to standard
    // error, the journal of the system service. Without a log file the log's source lines
    // go there already (below): once is enough.
    const bool logToFile = !options.logFile.empty();
    const auto chosen = [logToFile](const std::string& which) {
        if (logToFile)
            std::fprintf(stderr, "camera-card-emulator: source auto %s\n", which.c_str());
        std::lock_guard<std::mutex> g(emu->lock);
        emu->log.sourceChosen(which);
    };
    const auto mode = [logToFile](const std::string& which) {
        if (logToFile)
            std::fprintf(stderr, "camera-card-emulator: source %s\n", which.c_str());
        std::lock_guard<std::mutex> g(emu->lock);
        emu->log.sourceMode(which);
    };
    if (!card::makeSource(options.source, emulator.source, sourceError, chosen, mode)) {
        std::fprintf(stderr, "camera-card-emulator: %s\n", sourceError.c_str());
        usage();
        return 2;
    }
    emulator.state = card::CardState(options.frameMs);
    if (options.logFile.empty())
        emulator.log.setSink([](void*, const std::string& line) {
            if (line.rfind("source ", 0) == 0)
                std::fprintf(stderr, "camera-card-emulator: %s\n", line.c_str());
        }, nullptr);
    emu = &emulator;
    // Opened as the account that serves the card, once it is that account.
    const auto openLog = [&] {
        if (options.logFile.empty() || emulator.log.openFile(options.logFile.c_str()))
            return true;
        std::fprintf(stderr, "camera-card-emulator: cannot write log %s\n",
                     options.logFile.c_str());
        return false;
    };
    // A source that does not work yet leaves the card absent; the emulator serves anyway.
    std::unique_ptr<card::SourceRunner> runner;
    const auto startSource = [&] {
        if (!emulator.source)
            return;
        runner = std::make_unique<card::SourceRunner>(*emulator.source, reportSource);
        runner->run();
    };
    if (options.user.empty()) {
        if (!openLog())
            return 1;
        startSource();
    }

    ArgsHolder holder;
    char maxRead[32];
    std::snprintf(maxRead, sizeof maxRead, "max_read=%u", maxTransfer);
    fuse_opt_add_arg(&holder.args, argv[0]);
    fuse_opt_add_arg(&holder.args, "-o");
    fuse_opt_add_arg(&holder.args, maxRead);
    fuse_opt_add_arg(&holder.args, "-o");
    fuse_opt_add_arg(&holder.args, "fsname=camera-card,subtype=camera-card");
    // The kernel checks each open against the nodes' owners and modes.
    fuse_opt_add_arg(&holder.args, "-o");
    fuse_opt_add_arg(&holder.args, "default_permissions");
    if (geteuid() == 0 || ownership.owner != getuid()) {
        // Without it only the mounting user gets in at all, whatever the modes say.
        fuse_opt_add_arg(&holder.args, "-o");
        fuse_opt_add_arg(&holder.args, "allow_other");
    }

    struct fuse_session* se = fuse_session_new(&holder.args, &cardOps, sizeof cardOps, nullptr);
    if (!se)
        return 1;
    int result = 1;
    if (fuse_set_signal_handlers(se) == 0) {
        if (fuse_session_mount(se, mount.c_str()) == 0) {
            DeviceLinks links;
            if ((!options.link || links.create(mount))
                && (options.user.empty()
                    || (becomeUser(options.user) && openLog() && (startSource(), true)))) {
                std::printf("ready %s\n", mount.c_str());
                std::fflush(stdout);
                struct fuse_loop_config* config = fuse_loop_cfg_create();
                fuse_loop_cfg_set_max_threads(config, 16);
                // A signal ends the loop with its number; errors are negative.
                result = fuse_session_loop_mt(se, config) < 0 ? 1 : 0;
                fuse_loop_cfg_destroy(config);
            }
            // Root's alone; after --user, --release unmounts.
            if (geteuid() == 0)
                fuse_session_unmount(se);
        }
        fuse_remove_signal_handlers(se);
    }
    fuse_session_destroy(se);
    return result;
}

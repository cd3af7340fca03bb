/*
 * A memory-backed Linux frame buffer for one program run: loaded with LD_PRELOAD, it makes
 * the path FB_SHIM_DEVICE (default /dev/fb0) open as a panel whose pixels live in the file
 * FB_SHIM_MEMORY (created and sized here; default: an anonymous memfd), so a test or the
 * virtual PDA reads the panel's memory as the screen. The panel answers
 * FBIOGET_VSCREENINFO, FBIOGET_FSCREENINFO, FBIOPUT_VSCREENINFO (same mode only),
 * FBIOPAN_DISPLAY (offset 0 only) and FBIOBLANK; mmap maps the memory file.
 *
 *   FB_SHIM_SIZE     WIDTHxHEIGHT in pixels (default 240x320)
 *   FB_SHIM_DEPTH    16 (RGB565) or 32 (XRGB8888) bits per pixel (default 16)
 *   FB_SHIM_LINE     bytes per line, at least width x bytes per pixel (default exactly that)
 *   FB_SHIM_ROTATE   the panel's rotate field, 0 to 3 (default 0)
 *   FB_SHIM_BGR      1: red and blue exchanged in the 16-bit layout
 *
 * Qt's linuxfb platform also opens a tty for its graphics mode switch: give it
 * "tty=/dev/null" (or "nographicsmodeswitch") so a run as root leaves the console alone.
 * Everything else goes to the C library.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "openinterpose.h"

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*IoctlFn)(int, unsigned long, ...);

struct Panel {
    int ready;
    int valid;
    unsigned width, height, depth, line, rotate, bgr;
    size_t length;
};

static struct Panel panel;
/* Descriptors handed out for the panel; a program opens it only a few times. */
static int panelFds[16];
static int panelFdCount;

static const char* devicePath(void)
{
    const char* p = getenv("FB_SHIM_DEVICE");
    return p && *p ? p : "/dev/fb0";
}

static unsigned envNumber(const char* name, unsigned fallback)
{
    const char* v = getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = NULL;
    const unsigned long n = strtoul(v, &end, 10);
    return end && *end == '\0' && n < 65536 ? (unsigned)n : fallback;
}

static void loadPanel(void)
{
    if (panel.ready)
        return;
    panel.ready = 1;
    panel.width = 240;
    panel.height = 320;
    const char* size = getenv("FB_SHIM_SIZE");
    if (size && *size) {
        unsigned w = 0, h = 0;
        char tail = 0;
        if (sscanf(size, "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0 || w > 4096 || h > 4096)
            return; /* a panel no one asked for is worse than none */
        panel.width = w;
        panel.height = h;
    }
    panel.depth = envNumber("FB_SHIM_DEPTH", 16);
    if (panel.depth != 16 && panel.depth != 32)
        return;
    const unsigned minLine = panel.width * (panel.depth / 8);
    panel.line = envNumber("FB_SHIM_LINE", minLine);
    if (panel.line < minLine || panel.line % (panel.depth / 8) != 0)
        return;
    panel.rotate = envNumber("FB_SHIM_ROTATE", 0) & 3;
    panel.bgr = envNumber("FB_SHIM_BGR", 0) == 1;
    panel.length = (size_t)panel.line * panel.height;
    panel.valid = 1;
}

static int isPanelPath(const char* path)
{
    return path && strcmp(path, devicePath()) == 0;
}

static int isPanelFd(int fd)
{
    for (int i = 0; i < panelFdCount; ++i) {
        if (panelFds[i] == fd)
            return 1;
    }
    return 0;
}

static int memoryFd = -1;

/* The panel's memory, made once; every open of the node is a duplicate of it, so Qt, our
 * direct painter and a reader of FB_SHIM_MEMORY all see the same pixels. */
static int panelMemory(void)
{
    if (memoryFd >= 0)
        return memoryFd;
    const char* memory = getenv("FB_SHIM_MEMORY");
    int fd;
    if (memory && *memory) {
        OpenFn real = (OpenFn)dlsym(RTLD_NEXT, "open");
        fd = real(memory, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } else {
        fd = memfd_create("orvane-fb", MFD_CLOEXEC);
    }
    if (fd < 0)
        return -1;
    /* Only grow, never clear what is there: a reader may already hold the file. */
    struct stat st;
    if (fstat(fd, &st) != 0 || ((size_t)st.st_size < panel.length && ftruncate(fd, (off_t)panel.length) != 0)) {
        const int saved = errno;
        typedef int (*CloseFn)(int);
        ((CloseFn)dlsym(RTLD_NEXT, "close"))(fd);
        errno = saved;
        return -1;
    }
    memoryFd = fd;
    return fd;
}

static int openPanel(void)
{
    loadPanel();
    if (!panel.valid || panelFdCount == (int)(sizeof panelFds / sizeof panelFds[0])) {
        errno = ENODEV;
        return -1;
    }
    const int memory = panelMemory();
    if (memory < 0)
        return -1;
    const int fd = fcntl(memory, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0)
        panelFds[panelFdCount++] = fd;
    return fd;
}

static void fillVar(struct fb_var_screeninfo* var)
{
    memset(var, 0, sizeof *var);
    var->xres = var->xres_virtual = panel.width;
    var->yres = var->yres_virtual = panel.height;
    var->bits_per_pixel = panel.depth;
    var->rotate = panel.rotate;
    var->width = var->height = (unsigned)-1; /* size in millimetres unknown */
    if (panel.depth == 16) {
        var->red = (struct fb_bitfield){panel.bgr ? 0 : 11, 5, 0};
        var->green = (struct fb_bitfield){5, 6, 0};
        var->blue = (struct fb_bitfield){panel.bgr ? 11 : 0, 5, 0};
    } else {
        var->red = (struct fb_bitfield){16, 8, 0};
        var->green = (struct fb_bitfield){8, 8, 0};
        var->blue = (struct fb_bitfield){0, 8, 0};
    }
}

static void fillFix(struct fb_fix_screeninfo* fix)
{
    memset(fix, 0, sizeof *fix);
    snprintf(fix->id, sizeof fix->id, "orvane-fb");
    fix->smem_len = (unsigned)panel.length;
    fix->type = FB_TYPE_PACKED_PIXELS;
    fix->visual = FB_VISUAL_TRUECOLOR;
    fix->line_length = panel.line;
}

static int panelIoctl(unsigned long request, void* argument)
{
    if (!argument && request != FBIOBLANK) {
        errno = EFAULT;
        return -1;
    }
    switch (request) {
    case FBIOGET_VSCREENINFO:
        fillVar(argument);
        return 0;
    case FBIOGET_FSCREENINFO:
        fillFix(argument);
        return 0;
    case FBIOPUT_VSCREENINFO: {
        /* The panel has one mode: accept it unchanged, refuse anything else. */
        const struct fb_var_screeninfo* want = argument;
        if (want->xres != panel.width || want->yres != panel.height
            || (want->bits_per_pixel != 0 && want->bits_per_pixel != panel.depth)) {
            errno = EINVAL;
            return -1;
        }
        fillVar(argument);
        return 0;
    }
    case FBIOPAN_DISPLAY: {
        const struct fb_var_screeninfo* want = argument;
        if (want->xoffset != 0 || want->yoffset != 0) {
            errno = EINVAL;
            return -1;
        }
        return 0;
    }
    case FBIOBLANK:
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

OPEN_INTERPOSERS(isPanelPath, openPanel)

/* Qt checks the node with access() before it opens it. */
int access(const char* path, int mode)
{
    loadPanel();
    if (isPanelPath(path))
        return panel.valid ? 0 : (errno = ENOENT, -1);
    typedef int (*AccessFn)(const char*, int);
    AccessFn real = (AccessFn)dlsym(RTLD_NEXT, "access");
    return real(path, mode);
}

int close(int fd)
{
    for (int i = 0; i < panelFdCount; ++i) {
        if (panelFds[i] == fd) {
            panelFds[i] = panelFds[--panelFdCount];
            break;
        }
    }
    typedef int (*CloseFn)(int);
    CloseFn real = (CloseFn)dlsym(RTLD_NEXT, "close");
    return real(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (fd >= 0 && isPanelFd(fd))
        return panelIoctl(request, argument);
    IoctlFn real = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, argument);
}

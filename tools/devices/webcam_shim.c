/*
 * USB webcams for one program run: loaded with LD_PRELOAD, it makes the paths named in
 * WEBCAM_SHIM answer the Video4Linux API as the UVC driver does, so GStreamer's v4l2src runs
 * against them unchanged. Frames are a still picture (red, green, blue and yellow quarters,
 * upright) paced at the chosen mode's interval.
 *
 *   WEBCAM_SHIM       PATH=MODES[;PATH=MODES...]; MODES is a preset (laptop, cheap,
 *                     mjpeg1080, vga, meta) or modes as "FMT WxH@FPS,..." with FMT YUYV or
 *                     MJPG and FPS a whole or decimal number (7.5), the first the default.
 *                     "meta" is a UVC metadata node: no video capture at all.
 *   WEBCAM_SHIM_HELD  a file; while it exists another program holds every webcam, so
 *                     VIDIOC_S_FMT and VIDIOC_REQBUFS fail with EBUSY.
 *   WEBCAM_SHIM_TRACE 1: every refused request to standard error.
 *
 * A node exists while its PATH does (any file: stat() reports a character device); when the
 * PATH goes away mid-stream the webcam is unplugged: poll() gives POLLERR and every request
 * ENODEV, as after a USB disconnect. Making the PATH again is plugging it back.
 *
 * Answered: QUERYCAP, ENUM_FMT, ENUM_FRAMESIZES, ENUM_FRAMEINTERVALS, G/S/TRY_FMT, G/S_PARM,
 * ENUMINPUT, G/S_INPUT, REQBUFS, QUERYBUF, QBUF, DQBUF, EXPBUF, STREAMON, STREAMOFF
 * (memory-mapped buffers only), mmap, poll. Refused as UVC refuses what it lacks: the rest.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#ifdef WEBCAM_HAVE_JPEG
#include <jpeglib.h>
#endif

#include "openinterpose.h"

#define MAX_NODES 8
#define MAX_MODES 32
#define MAX_BUFFERS 32
#define MAX_FDS 4096

struct Mode {
    uint32_t fourcc;
    unsigned width, height;
    unsigned num, den; /* frame interval num/den seconds */
};

struct Node {
    char path[256];
    int meta;
    struct Mode modes[MAX_MODES];
    int count;
};

/* One open file: every descriptor dup()ed from it shares it. The descriptor handed out is a
 * timer descriptor that becomes readable at each frame, so poll() waits on the kernel. */
struct Device {
    int refs;
    struct Node* node;
    int nonblocking;
    struct Mode mode;
    int memory[MAX_BUFFERS]; /* each buffer's memory, exported as it is */
    unsigned count;
    size_t bufferSize;
    int queued[MAX_BUFFERS];
    uint32_t used[MAX_BUFFERS];
    unsigned fifo[MAX_BUFFERS];
    unsigned head, length; /* the queued buffers, oldest first */
    unsigned ready;        /* how many of them hold a frame */
    uint32_t frameSequence[MAX_BUFFERS];
    struct timespec frameTime[MAX_BUFFERS];
    int streaming;
    uint32_t sequence;
    unsigned char* frame; /* the picture in the current mode */
    size_t frameSize;
    struct Mode frameMode;
};

static struct Node nodes[MAX_NODES];
static int nodeCount;
static pthread_once_t loaded = PTHREAD_ONCE_INIT;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct Device* devices[MAX_FDS];
/* Read without the lock on the hot paths (read, poll) of every descriptor of the program. */
static volatile unsigned char isOurs[MAX_FDS];

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))
typedef int (*StatFn)(const char*, struct stat*);
typedef int (*FstatFn)(int, struct stat*);
typedef ssize_t (*ReadFn)(int, void*, size_t);
typedef int (*CloseFn)(int);

static const char* presets[][2] = {
    {"laptop", "YUYV 640x480@30,YUYV 1280x720@10,YUYV 1920x1080@5,MJPG 640x480@30,"
               "MJPG 1280x720@30,MJPG 1920x1080@30"},
    {"cheap", "YUYV 640x480@30,YUYV 1280x720@7.5"},
    {"mjpeg1080", "MJPG 1920x1080@30,MJPG 1280x720@30,MJPG 640x480@30"},
    {"vga", "YUYV 640x480@30"},
};

static unsigned gcd(unsigned a, unsigned b)
{
    while (b) {
        const unsigned t = a % b;
        a = b;
        b = t;
    }
    return a;
}

/* "YUYV 640x480@7.5" */
static int parseMode(const char* text, struct Mode* mode)
{
    char fmt[5] = {0};
    unsigned w = 0, h = 0, whole = 0, tenths = 0;
    int used = 0;
    if (sscanf(text, " %4s %ux%u@%u%n", fmt, &w, &h, &whole, &used) != 4)
        return 0;
    if (text[used] == '.') {
        const char digit = text[used + 1];
        if (digit < '0' || digit > '9')
            return 0;
        tenths = (unsigned)(digit - '0');
        used += 2;
    }
    while (text[used] == ' ')
        ++used;
    if (text[used] != '\0' || w == 0 || h == 0 || w > 8192 || h > 8192 || w % 2
        || whole * 10 + tenths == 0)
        return 0;
    if (strcmp(fmt, "YUYV") == 0)
        mode->fourcc = V4L2_PIX_FMT_YUYV;
    else if (strcmp(fmt, "MJPG") == 0)
        mode->fourcc = V4L2_PIX_FMT_MJPEG;
    else
        return 0;
    mode->width = w;
    mode->height = h;
    /* frames per second whole.tenths: the interval is 10 / (10 whole + tenths) */
    const unsigned rate = whole * 10 + tenths, g = gcd(10, rate);
    mode->num = 10 / g;
    mode->den = rate / g;
    return 1;
}

static void parseNode(char* description)
{
    char* eq = strchr(description, '=');
    if (!eq || nodeCount == MAX_NODES || (size_t)(eq - description) >= sizeof nodes[0].path)
        return;
    struct Node* node = &nodes[nodeCount];
    memset(node, 0, sizeof *node);
    memcpy(node->path, description, (size_t)(eq - description));
    const char* modes = eq + 1;
    if (strcmp(modes, "meta") == 0) {
        node->meta = 1;
        ++nodeCount;
        return;
    }
    for (size_t i = 0; i < sizeof presets / sizeof presets[0]; ++i) {
        if (strcmp(modes, presets[i][0]) == 0)
            modes = presets[i][1];
    }
    char list[1024];
    snprintf(list, sizeof list, "%s", modes);
    char* save = NULL;
    for (char* m = strtok_r(list, ",", &save); m && node->count < MAX_MODES;
         m = strtok_r(NULL, ",", &save)) {
        if (!parseMode(m, &node->modes[node->count])) {
            fprintf(stderr, "webcam shim: %s: not a mode: %s\n", node->path, m);
            return; /* a webcam no one asked for is worse than none */
        }
        ++node->count;
    }
    if (node->count > 0)
        ++nodeCount;
}

static void load(void)
{
    const char* description = getenv("WEBCAM_SHIM");
    if (!description || !*description)
        return;
    char copy[4096];
    snprintf(copy, sizeof copy, "%s", description);
    char* save = NULL;
    for (char* n = strtok_r(copy, ";", &save); n; n = strtok_r(NULL, ";", &save))
        parseNode(n);
}

static struct Node* nodeAt(const char* path)
{
    pthread_once(&loaded, load);
    for (int i = 0; path && i < nodeCount; ++i) {
        if (strcmp(path, nodes[i].path) == 0)
            return &nodes[i];
    }
    return NULL;
}

static int plugged(const struct Node* node)
{
    struct stat st;
    return REAL("stat", StatFn)(node->path, &st) == 0;
}

static int held(void)
{
    const char* file = getenv("WEBCAM_SHIM_HELD");
    return file && *file && access(file, F_OK) == 0;
}

static int fail(int error)
{
    errno = error;
    return -1;
}

static struct Device* deviceOf(int fd)
{
    return fd >= 0 && fd < MAX_FDS && isOurs[fd] ? devices[fd] : NULL;
}

/* ---- the picture ------------------------------------------------------------------------ */

static void quarterColour(unsigned x, unsigned y, unsigned w, unsigned h, unsigned char rgb[3])
{
    static const unsigned char colours[4][3] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    const unsigned q = (y >= h / 2) * 2 + (x >= w / 2);
    memcpy(rgb, colours[q], 3);
}

static unsigned char clampByte(double v)
{
    return v < 0 ? 0 : v > 255 ? 255 : (unsigned char)(v + 0.5);
}

static int renderFrame(struct Device* d)
{
    const struct Mode* m = &d->mode;
    if (d->frame && memcmp(&d->frameMode, m, sizeof *m) == 0)
        return 0;
    free(d->frame);
    d->frame = NULL;
    d->frameSize = 0;
    const unsigned w = m->width, h = m->height;
    if (m->fourcc == V4L2_PIX_FMT_YUYV) {
        d->frame = malloc((size_t)w * h * 2);
        if (!d->frame)
            return -1;
        unsigned char* p = d->frame;
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; x += 2) {
                unsigned char c[3];
                quarterColour(x, y, w, h, c);
                /* BT.601, limited range: what UVC webcams send */
                const double r = c[0], g = c[1], b = c[2];
                const unsigned char Y = clampByte(16 + 0.257 * r + 0.504 * g + 0.098 * b);
                const unsigned char U = clampByte(128 - 0.148 * r - 0.291 * g + 0.439 * b);
                const unsigned char V = clampByte(128 + 0.439 * r - 0.368 * g - 0.071 * b);
                *p++ = Y;
                *p++ = U;
                *p++ = Y;
                *p++ = V;
            }
        }
        d->frameSize = (size_t)w * h * 2;
    } else {
#ifdef WEBCAM_HAVE_JPEG
        struct jpeg_compress_struct cinfo;
        struct jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char* out = NULL;
        unsigned long outSize = 0;
        jpeg_mem_dest(&cinfo, &out, &outSize);
        cinfo.image_width = w;
        cinfo.image_height = h;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 85, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        unsigned char* row = malloc((size_t)w * 3);
        for (unsigned y = 0; row && y < h; ++y) {
            for (unsigned x = 0; x < w; ++x)
                quarterColour(x, y, w, h, row + x * 3);
            JSAMPROW rows[1] = {row};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        free(row);
        d->frame = out;
        d->frameSize = outSize;
#else
        return -1;
#endif
    }
    d->frameMode = *m;
    return 0;
}

/* ---- the modes -------------------------------------------------------------------------- */

static size_t imageSize(const struct Mode* m)
{
    /* Motion JPEG: room for the largest frame a webcam of this size sends. */
    return (size_t)m->width * m->height * 2;
}

static void fillPix(const struct Mode* m, struct v4l2_pix_format* pix)
{
    memset(pix, 0, sizeof *pix);
    pix->width = m->width;
    pix->height = m->height;
    pix->pixelformat = m->fourcc;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = m->fourcc == V4L2_PIX_FMT_YUYV ? m->width * 2 : 0;
    pix->sizeimage = (uint32_t)imageSize(m);
    pix->colorspace = V4L2_COLORSPACE_SRGB;
}

/* The n-th distinct format of a node, or 0. */
static uint32_t formatAt(const struct Node* node, unsigned index)
{
    unsigned seen = 0;
    for (int i = 0; i < node->count; ++i) {
        int earlier = 0;
        for (int j = 0; j < i; ++j)
            earlier |= node->modes[j].fourcc == node->modes[i].fourcc;
        if (!earlier && seen++ == index)
            return node->modes[i].fourcc;
    }
    return 0;
}

/* As UVC: an unknown format is the first one, the size is the nearest, the interval the
 * size's first. */
static struct Mode nearestMode(const struct Node* node, uint32_t fourcc, unsigned w, unsigned h)
{
    int known = 0;
    for (int i = 0; i < node->count; ++i)
        known |= node->modes[i].fourcc == fourcc;
    if (!known)
        fourcc = node->modes[0].fourcc;
    const struct Mode* best = NULL;
    unsigned long long bestDistance = 0;
    for (int i = 0; i < node->count; ++i) {
        const struct Mode* m = &node->modes[i];
        if (m->fourcc != fourcc)
            continue;
        const unsigned long long overlap = (unsigned long long)(m->width < w ? m->width : w)
            * (m->height < h ? m->height : h);
        const unsigned long long distance
            = (unsigned long long)m->width * m->height + (unsigned long long)w * h - 2 * overlap;
        if (!best || distance < bestDistance) {
            best = m;
            bestDistance = distance;
        }
    }
    return *best;
}

static void trace(const char* what, unsigned long request, int error)
{
    const char* on = getenv("WEBCAM_SHIM_TRACE");
    if (on && *on == '1')
        fprintf(stderr, "webcam shim: refused %s 0x%08lx (type %c nr %lu): %s\n", what,
                request, (int)_IOC_TYPE(request), (unsigned long)_IOC_NR(request),
                strerror(error));
}

/* ---- buffers ---------------------------------------------------------------------------- */

static void freeBuffers(struct Device* d)
{
    for (unsigned i = 0; i < d->count; ++i)
        REAL("close", CloseFn)(d->memory[i]);
    d->count = 0;
    d->length = d->head = d->ready = 0;
    memset(d->queued, 0, sizeof d->queued);
}

static void setTimer(int fd, const struct Device* d, int on)
{
    struct itimerspec t;
    memset(&t, 0, sizeof t);
    if (on) {
        const long long ns = 1000000000LL * d->mode.num / d->mode.den;
        t.it_interval.tv_sec = ns / 1000000000LL;
        t.it_interval.tv_nsec = ns % 1000000000LL;
        t.it_value = t.it_interval;
    }
    /* The timer belongs to the open file, which every dup()ed descriptor shares. */
    timerfd_settime(fd, 0, &t, NULL);
}

static void streamOff(int fd, struct Device* d)
{
    if (d->streaming)
        setTimer(fd, d, 0);
    d->streaming = 0;
    d->length = d->head = d->ready = 0;
    memset(d->queued, 0, sizeof d->queued);
}

static int requestBuffers(int fd, struct Device* d, struct v4l2_requestbuffers* req)
{
    if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP)
        return fail(EINVAL);
    if (req->count > 0 && held())
        return fail(EBUSY);
    if (d->streaming && req->count > 0)
        return fail(EBUSY);
    streamOff(fd, d);
    freeBuffers(d);
    memset(req->reserved, 0, sizeof req->reserved);
    req->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    if (req->count == 0)
        return 0;
    const unsigned count = req->count > MAX_BUFFERS ? MAX_BUFFERS : req->count;
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    d->bufferSize = (imageSize(&d->mode) + page - 1) / page * page;
    for (d->count = 0; d->count < count; ++d->count) {
        const int memory = memfd_create("orvane-webcam", MFD_CLOEXEC);
        if (memory >= 0 && ftruncate(memory, (off_t)d->bufferSize) != 0)
            REAL("close", CloseFn)(memory);
        else if (memory >= 0) {
            d->memory[d->count] = memory;
            continue;
        }
        freeBuffers(d);
        return fail(ENOMEM);
    }
    req->count = count;
    return 0;
}

static void fillBuffer(const struct Device* d, unsigned index, struct v4l2_buffer* b)
{
    const uint32_t type = b->type;
    memset(b, 0, sizeof *b);
    b->type = type;
    b->index = index;
    b->memory = V4L2_MEMORY_MMAP;
    b->m.offset = (uint32_t)(index * d->bufferSize);
    b->length = (uint32_t)d->bufferSize;
    b->bytesused = d->used[index];
    b->field = V4L2_FIELD_NONE;
    b->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC
        | V4L2_BUF_FLAG_TSTAMP_SRC_SOE | (d->queued[index] ? V4L2_BUF_FLAG_QUEUED : 0);
}

/* The frames the camera took since the last look: each fills the oldest queued buffer not yet
 * filled, or is lost when every queued buffer is full, as the driver does it. */
static void collect(struct Device* d, int fd)
{
    if (!d->streaming)
        return;
    struct pollfd p = {fd, POLLIN, 0};
    uint64_t ticks = 0;
    if (REAL("poll", int (*)(struct pollfd*, nfds_t, int))(&p, 1, 0) != 1
        || REAL("read", ReadFn)(fd, &ticks, sizeof ticks) != (ssize_t)sizeof ticks)
        return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    for (uint64_t i = 0; i < ticks; ++i) {
        const uint32_t sequence = d->sequence++;
        if (d->ready == d->length)
            continue;
        const unsigned index = d->fifo[(d->head + d->ready++) % MAX_BUFFERS];
        d->frameSequence[index] = sequence;
        d->frameTime[index] = now;
    }
}

static int dequeue(struct Device* d, int fd, struct v4l2_buffer* b)
{
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP
        || !d->streaming)
        return fail(EINVAL);
    collect(d, fd);
    while (d->ready == 0) {
        if (d->nonblocking)
            return fail(EAGAIN);
        if (d->length == 0)
            return fail(EINVAL);
        /* Waits for the next frame without the lock, so other descriptors go on. */
        struct pollfd p = {fd, POLLIN, 0};
        pthread_mutex_unlock(&lock);
        REAL("poll", int (*)(struct pollfd*, nfds_t, int))(&p, 1, 1000);
        pthread_mutex_lock(&lock);
        if (deviceOf(fd) != d || !d->streaming)
            return fail(EINVAL);
        if (!plugged(d->node))
            return fail(ENODEV);
        collect(d, fd);
    }
    if (renderFrame(d) != 0)
        return fail(EIO);
    const unsigned index = d->fifo[d->head];
    d->head = (d->head + 1) % MAX_BUFFERS;
    --d->length;
    --d->ready;
    d->queued[index] = 0;
    const size_t size = d->frameSize < d->bufferSize ? d->frameSize : d->bufferSize;
    if (pwrite(d->memory[index], d->frame, size, 0) != (ssize_t)size)
        return fail(EIO);
    d->used[index] = (uint32_t)size;
    fillBuffer(d, index, b);
    b->flags |= V4L2_BUF_FLAG_DONE;
    b->flags &= ~(uint32_t)V4L2_BUF_FLAG_QUEUED;
    b->sequence = d->frameSequence[index];
    b->timestamp.tv_sec = d->frameTime[index].tv_sec;
    b->timestamp.tv_usec = d->frameTime[index].tv_nsec / 1000;
    return 0;
}

/* ---- requests --------------------------------------------------------------------------- */

static int videoIoctl(struct Device* d, int fd, unsigned long request, void* arg)
{
    const struct Node* node = d->node;
    if (!plugged(node))
        return fail(ENODEV);
    if (!arg)
        return fail(EFAULT);
    switch (request) {
    case VIDIOC_QUERYCAP: {
        struct v4l2_capability* cap = arg;
        memset(cap, 0, sizeof *cap);
        snprintf((char*)cap->driver, sizeof cap->driver, "uvcvideo");
        snprintf((char*)cap->card, sizeof cap->card, "Integrated Camera");
        snprintf((char*)cap->bus_info, sizeof cap->bus_info, "usb-0000:00:14.0-%d",
                 (int)(node - nodes) + 1);
        cap->version = 0x060100;
        cap->device_caps = (node->meta ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE)
            | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
            | V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUMINPUT: {
        struct v4l2_input* in = arg;
        if (in->index != 0 || node->meta)
            return fail(node->meta ? ENOTTY : EINVAL);
        memset(in, 0, sizeof *in);
        snprintf((char*)in->name, sizeof in->name, "Camera 1");
        in->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        if (node->meta)
            return fail(ENOTTY);
        *(int*)arg = 0;
        return 0;
    case VIDIOC_S_INPUT:
        if (node->meta)
            return fail(ENOTTY);
        return *(int*)arg == 0 ? 0 : fail(EINVAL);
    default:
        break;
    }
    /* The rest is video capture, which a metadata node does not do. */
    if (node->meta)
        return fail(request == VIDIOC_ENUM_FMT || request == VIDIOC_G_FMT
                            || request == VIDIOC_S_FMT || request == VIDIOC_TRY_FMT
                            || request == VIDIOC_REQBUFS
                        ? EINVAL
                        : ENOTTY);
    switch (request) {
    case VIDIOC_ENUM_FMT: {
        struct v4l2_fmtdesc* f = arg;
        const uint32_t fourcc
            = f->type == V4L2_BUF_TYPE_VIDEO_CAPTURE ? formatAt(node, f->index) : 0;
        if (!fourcc)
            return fail(EINVAL);
        const uint32_t index = f->index, type = f->type;
        memset(f, 0, sizeof *f);
        f->index = index;
        f->type = type;
        f->pixelformat = fourcc;
        const int jpeg = fourcc == V4L2_PIX_FMT_MJPEG;
        f->flags = jpeg ? V4L2_FMT_FLAG_COMPRESSED : 0;
        snprintf((char*)f->description, sizeof f->description, jpeg ? "Motion-JPEG" : "YUYV 4:2:2");
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        struct v4l2_frmsizeenum* s = arg;
        unsigned seen = 0;
        for (int i = 0; i < node->count; ++i) {
            const struct Mode* m = &node->modes[i];
            if (m->fourcc != s->pixel_format)
                continue;
            int earlier = 0;
            for (int j = 0; j < i; ++j)
                earlier |= node->modes[j].fourcc == m->fourcc && node->modes[j].width == m->width
                    && node->modes[j].height == m->height;
            if (earlier || seen++ != s->index)
                continue;
            memset(s->reserved, 0, sizeof s->reserved);
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = m->width;
            s->discrete.height = m->height;
            return 0;
        }
        return fail(EINVAL);
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        struct v4l2_frmivalenum* v = arg;
        unsigned seen = 0;
        for (int i = 0; i < node->count; ++i) {
            const struct Mode* m = &node->modes[i];
            if (m->fourcc != v->pixel_format || m->width != v->width || m->height != v->height
                || seen++ != v->index)
                continue;
            memset(v->reserved, 0, sizeof v->reserved);
            v->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            v->discrete.numerator = m->num;
            v->discrete.denominator = m->den;
            return 0;
        }
        return fail(EINVAL);
    }
    case VIDIOC_G_FMT: {
        struct v4l2_format* f = arg;
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        fillPix(&d->mode, &f->fmt.pix);
        return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        struct v4l2_format* f = arg;
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        const struct Mode m
            = nearestMode(node, f->fmt.pix.pixelformat, f->fmt.pix.width, f->fmt.pix.height);
        if (request == VIDIOC_S_FMT) {
            if (held() || d->count > 0)
                return fail(EBUSY);
            d->mode = m;
        }
        fillPix(&m, &f->fmt.pix);
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        struct v4l2_streamparm* p = arg;
        if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_S_PARM) {
            if (d->streaming)
                return fail(EBUSY);
            /* The size's interval nearest to the one asked for; none asked: the first. */
            const struct v4l2_fract want = p->parm.capture.timeperframe;
            const struct Mode* best = NULL;
            double bestDistance = 0;
            for (int i = 0; i < node->count; ++i) {
                const struct Mode* m = &node->modes[i];
                if (m->fourcc != d->mode.fourcc || m->width != d->mode.width
                    || m->height != d->mode.height)
                    continue;
                const double distance = want.denominator == 0
                    ? 0
                    : (double)m->num / m->den - (double)want.numerator / want.denominator;
                const double size = distance < 0 ? -distance : distance;
                if (!best || size < bestDistance) {
                    best = m;
                    bestDistance = size;
                }
            }
            if (best)
                d->mode = *best;
        }
        memset(&p->parm, 0, sizeof p->parm);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        p->parm.capture.timeperframe.numerator = d->mode.num;
        p->parm.capture.timeperframe.denominator = d->mode.den;
        return 0;
    }
    case VIDIOC_REQBUFS:
        return requestBuffers(fd, d, arg);
    case VIDIOC_QUERYBUF: {
        struct v4l2_buffer* b = arg;
        if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->index >= d->count)
            return fail(EINVAL);
        fillBuffer(d, b->index, b);
        return 0;
    }
    case VIDIOC_QBUF: {
        struct v4l2_buffer* b = arg;
        if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP
            || b->index >= d->count || d->queued[b->index])
            return fail(EINVAL);
        d->queued[b->index] = 1;
        d->fifo[(d->head + d->length++) % MAX_BUFFERS] = b->index;
        fillBuffer(d, b->index, b);
        return 0;
    }
    case VIDIOC_DQBUF:
        return dequeue(d, fd, arg);
    case VIDIOC_EXPBUF: {
        /* The buffer as a descriptor of its own, which maps at offset 0 like a DMA buffer. */
        struct v4l2_exportbuffer* e = arg;
        if (e->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || e->index >= d->count || e->plane != 0)
            return fail(EINVAL);
        const int copy
            = fcntl(d->memory[e->index], (e->flags & O_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
        if (copy < 0)
            return -1;
        e->fd = copy;
        return 0;
    }
    case VIDIOC_STREAMON:
        if (*(int*)arg != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->count == 0)
            return fail(EINVAL);
        if (!d->streaming) {
            d->streaming = 1;
            setTimer(fd, d, 1);
        }
        return 0;
    case VIDIOC_STREAMOFF:
        if (*(int*)arg != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        streamOff(fd, d);
        return 0;
    default:
        break;
    }
    /* Controls, crop, events, exported and extra buffers: none here. */
    if (request == VIDIOC_QUERYCTRL || request == VIDIOC_QUERY_EXT_CTRL
        || request == VIDIOC_G_CTRL || request == VIDIOC_S_CTRL
        || request == VIDIOC_SUBSCRIBE_EVENT
        || request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS)
        return fail(EINVAL);
    return fail(ENOTTY);
}

/* ---- the C library's calls -------------------------------------------------------------- */

static int openNode(struct Node* node, int flags)
{
    if (!plugged(node))
        return fail(ENOENT);
    if (node->count == 0 && !node->meta)
        return fail(ENODEV);
    const int fd = timerfd_create(CLOCK_MONOTONIC,
                                  TFD_CLOEXEC | ((flags & O_NONBLOCK) ? TFD_NONBLOCK : 0));
    if (fd < 0)
        return -1;
    if (fd >= MAX_FDS) {
        REAL("close", CloseFn)(fd);
        return fail(EMFILE);
    }
    struct Device* d = calloc(1, sizeof *d);
    if (!d) {
        REAL("close", CloseFn)(fd);
        return fail(ENOMEM);
    }
    d->refs = 1;
    d->node = node;
    d->nonblocking = (flags & O_NONBLOCK) != 0;
    if (!node->meta)
        d->mode = node->modes[0];
    pthread_mutex_lock(&lock);
    devices[fd] = d;
    isOurs[fd] = 1;
    pthread_mutex_unlock(&lock);
    return fd;
}

#define OPEN_FAMILY(name)                                                      \
    int name(const char* path, int flags, ...)                                 \
    {                                                                          \
        struct Node* node = nodeAt(path);                                      \
        if (node)                                                              \
            return openNode(node, flags);                                      \
        va_list args;                                                          \
        va_start(args, flags);                                                 \
        const int fd = forwardOpen(#name, path, flags, args);                  \
        va_end(args);                                                          \
        return fd;                                                             \
    }
OPEN_FAMILY(open)
OPEN_FAMILY(open64)

int __open_2(const char* path, int flags)
{
    struct Node* node = nodeAt(path);
    return node ? openNode(node, flags) : REAL("__open_2", InterposedOpenFn)(path, flags);
}

int __open64_2(const char* path, int flags)
{
    struct Node* node = nodeAt(path);
    return node ? openNode(node, flags) : REAL("__open64_2", InterposedOpenFn)(path, flags);
}

static void asCharDevice(const struct Node* node, struct stat* st)
{
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(81, (unsigned)(node - nodes));
    st->st_size = 0;
}

#define STAT_FAMILY(name, type)                                                \
    int name(const char* path, type* st)                                       \
    {                                                                          \
        const int r = REAL(#name, int (*)(const char*, type*))(path, st);      \
        const struct Node* node = r == 0 ? nodeAt(path) : NULL;                \
        if (node)                                                              \
            asCharDevice(node, (struct stat*)st);                              \
        return r;                                                              \
    }
STAT_FAMILY(stat, struct stat)
STAT_FAMILY(stat64, struct stat64)

#define FSTAT_FAMILY(name, type)                                               \
    int name(int fd, type* st)                                                 \
    {                                                                          \
        const int r = REAL(#name, int (*)(int, type*))(fd, st);                \
        const struct Device* d = r == 0 ? deviceOf(fd) : NULL;                 \
        if (d)                                                                 \
            asCharDevice(d->node, (struct stat*)st);                           \
        return r;                                                              \
    }
FSTAT_FAMILY(fstat, struct stat)
FSTAT_FAMILY(fstat64, struct stat64)

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (deviceOf(fd)) {
        pthread_mutex_lock(&lock);
        struct Device* d = deviceOf(fd);
        const int r = d ? videoIoctl(d, fd, request, arg) : fail(EBADF);
        const int error = errno;
        pthread_mutex_unlock(&lock);
        if (r != 0 && request != VIDIOC_DQBUF && !(error == EINVAL
                && (request == VIDIOC_ENUM_FMT || request == VIDIOC_ENUM_FRAMESIZES
                    || request == VIDIOC_ENUM_FRAMEINTERVALS || request == VIDIOC_ENUMINPUT)))
            trace("ioctl", request, error);
        errno = error;
        return r;
    }
    return REAL("ioctl", int (*)(int, unsigned long, ...))(fd, request, arg);
}

static void* mapBuffers(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    pthread_mutex_lock(&lock);
    const struct Device* d = deviceOf(fd);
    /* A buffer at a time, by the offset QUERYBUF gave. */
    const unsigned index = d && d->bufferSize ? (unsigned)((size_t)offset / d->bufferSize) : 0;
    const int inside = d && offset >= 0 && index < d->count
        && (size_t)offset % d->bufferSize == 0 && length <= d->bufferSize;
    const int memory = inside ? d->memory[index] : -1;
    pthread_mutex_unlock(&lock);
    if (memory < 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return REAL("mmap", void* (*)(void*, size_t, int, int, int, off_t))(addr, length, prot, flags,
                                                                          memory, 0);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    if (deviceOf(fd))
        return mapBuffers(addr, length, prot, flags, fd, offset);
    return REAL("mmap", void* (*)(void*, size_t, int, int, int, off_t))(addr, length, prot, flags,
                                                                          fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset)
{
    if (deviceOf(fd))
        return mapBuffers(addr, length, prot, flags, fd, (off_t)offset);
    return REAL("mmap64", void* (*)(void*, size_t, int, int, int, off64_t))(addr, length, prot,
                                                                              flags, fd, offset);
}

/* UVC has no read(): streaming only. */
ssize_t read(int fd, void* buffer, size_t size)
{
    if (deviceOf(fd))
        return fail(EINVAL);
    return REAL("read", ReadFn)(fd, buffer, size);
}

static void forget(int fd)
{
    pthread_mutex_lock(&lock);
    struct Device* d = deviceOf(fd);
    if (d) {
        isOurs[fd] = 0;
        devices[fd] = NULL;
        if (--d->refs == 0) {
            freeBuffers(d);
            free(d->frame);
            free(d);
        }
    }
    pthread_mutex_unlock(&lock);
}

int close(int fd)
{
    if (deviceOf(fd))
        forget(fd);
    return REAL("close", CloseFn)(fd);
}

static int adopt(int from, int to)
{
    if (to < 0)
        return to;
    pthread_mutex_lock(&lock);
    struct Device* d = deviceOf(from);
    if (d && to < MAX_FDS) {
        ++d->refs;
        devices[to] = d;
        isOurs[to] = 1;
    }
    pthread_mutex_unlock(&lock);
    return to;
}

int dup(int fd)
{
    return adopt(fd, REAL("dup", int (*)(int))(fd));
}

int dup2(int fd, int to)
{
    if (fd != to)
        forget(to);
    return adopt(fd, REAL("dup2", int (*)(int, int))(fd, to));
}

int dup3(int fd, int to, int flags)
{
    forget(to);
    return adopt(fd, REAL("dup3", int (*)(int, int, int))(fd, to, flags));
}

/* Readable while a buffer holds a frame; an error once the webcam is gone or not streaming,
 * as vb2 says. The events known before waiting: their count. */
static int eventsNow(struct pollfd* fds, nfds_t count, int* any)
{
    int events = 0;
    *any = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if (!deviceOf(fds[i].fd))
            continue;
        *any = 1;
        pthread_mutex_lock(&lock);
        struct Device* d = deviceOf(fds[i].fd);
        if (d && plugged(d->node) && d->streaming)
            collect(d, fds[i].fd);
        short revents = 0;
        if (!d || !plugged(d->node) || !d->streaming)
            revents = POLLERR;
        else if (d->ready > 0)
            revents = (short)(fds[i].events & (POLLIN | POLLRDNORM));
        pthread_mutex_unlock(&lock);
        if (revents) {
            fds[i].revents = revents;
            ++events;
        }
    }
    return events;
}

static int afterPoll(struct pollfd* fds, nfds_t count, int r)
{
    if (r < 0)
        return r;
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if (deviceOf(fds[i].fd)) {
            pthread_mutex_lock(&lock);
            struct Device* d = deviceOf(fds[i].fd);
            if (d && plugged(d->node) && d->streaming)
                collect(d, fds[i].fd);
            if (!d || !plugged(d->node) || !d->streaming)
                fds[i].revents = POLLERR;
            else
                fds[i].revents = d->ready > 0 ? (short)(fds[i].events & (POLLIN | POLLRDNORM)) : 0;
            pthread_mutex_unlock(&lock);
        }
        ready += fds[i].revents != 0;
    }
    return ready;
}

int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    int any = 0;
    if (eventsNow(fds, count, &any) > 0)
        return afterPoll(fds, count, REAL("poll", int (*)(struct pollfd*, nfds_t, int))(fds, count, 0));
    const int r = REAL("poll", int (*)(struct pollfd*, nfds_t, int))(fds, count, timeout);
    return any ? afterPoll(fds, count, r) : r;
}

int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask)
{
    typedef int (*PpollFn)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);
    int any = 0;
    if (eventsNow(fds, count, &any) > 0) {
        const struct timespec zero = {0, 0};
        return afterPoll(fds, count, REAL("ppoll", PpollFn)(fds, count, &zero, mask));
    }
    const int r = REAL("ppoll", PpollFn)(fds, count, timeout, mask);
    return any ? afterPoll(fds, count, r) : r;
}

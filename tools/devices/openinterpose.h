/*
 * The open() family of a preloaded device library: opens of the simulated node go to the
 * library's own opener, everything else to the C library. A library defines
 * OPEN_INTERPOSERS(isNode, openNode) once, with
 *   int isNode(const char* path);   nonzero for the simulated node
 *   int openNode(void);             a descriptor for it, or -1 with errno
 */
#pragma once
/* The including file defines _GNU_SOURCE before any system header, for RTLD_NEXT. */
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>

typedef int (*InterposedOpenFn)(const char*, int, ...);

/* Whether the caller passed a mode: O_TMPFILE contains O_DIRECTORY's bit, so only all of
 * its bits count, as the C library's own open() tests them. */
static inline int openTakesMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

static inline int forwardOpen(const char* name, const char* path, int flags, va_list args)
{
    mode_t mode = 0;
    if (openTakesMode(flags))
        mode = (mode_t)va_arg(args, int);
    InterposedOpenFn real = (InterposedOpenFn)dlsym(RTLD_NEXT, name);
    return real(path, flags, mode);
}

/* open and open64, and the fortified forms taken when the flags are not a constant. */
#define OPEN_INTERPOSERS(isNode, openNode)                                     \
    int open(const char* path, int flags, ...)                                 \
    {                                                                          \
        if (isNode(path))                                                      \
            return openNode();                                                 \
        va_list args;                                                          \
        va_start(args, flags);                                                 \
        const int fd = forwardOpen("open", path, flags, args);                 \
        va_end(args);                                                          \
        return fd;                                                             \
    }                                                                          \
    int open64(const char* path, int flags, ...)                               \
    {                                                                          \
        if (isNode(path))                                                      \
            return openNode();                                                 \
        va_list args;                                                          \
        va_start(args, flags);                                                 \
        const int fd = forwardOpen("open64", path, flags, args);               \
        va_end(args);                                                          \
        return fd;                                                             \
    }                                                                          \
    int __open_2(const char* path, int flags)                                  \
    {                                                                          \
        if (isNode(path))                                                      \
            return openNode();                                                 \
        return ((InterposedOpenFn)dlsym(RTLD_NEXT, "__open_2"))(path, flags);  \
    }                                                                          \
    int __open64_2(const char* path, int flags)                                \
    {                                                                          \
        if (isNode(path))                                                      \
            return openNode();                                                 \
        return ((InterposedOpenFn)dlsym(RTLD_NEXT, "__open64_2"))(path, flags); \
    }

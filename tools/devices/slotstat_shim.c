/*
 * A write-protected memory card for one camera run: loaded with LD_PRELOAD, it answers
 * opens of /dev/sd_slotstat with a descriptor of /dev/null and the slot-status request
 * 0x5681 on that descriptor with "locked" (second integer 1, result 0). Everything else
 * goes to the C library. When FAULTS_SLOTSTAT_LOG names a file, every answered request
 * appends one line to it, so a test can tell whether the slot was asked at all.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "openinterpose.h"
#include "platform/devicenodes.h"

static volatile int slotFd = -1;

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*IoctlFn)(int, unsigned long, ...);

static int isSlotNode(const char* path)
{
    return path && strcmp(path, pdaSlotStatusNode) == 0;
}

static int openSlot(void)
{
    OpenFn real = (OpenFn)dlsym(RTLD_NEXT, "open");
    const int fd = real("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        slotFd = fd;
    return fd;
}

OPEN_INTERPOSERS(isSlotNode, openSlot)

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == pdaSlotStatusRequest && fd >= 0 && fd == slotFd) {
        int32_t* record = (int32_t*)argument;
        record[0] = 0;
        record[1] = 1;
        record[2] = 0;
        const char* log = getenv("FAULTS_SLOTSTAT_LOG");
        if (log && *log) {
            OpenFn real = (OpenFn)dlsym(RTLD_NEXT, "open");
            const int out = real(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (out >= 0) {
                static const char line[] = "locked\n";
                (void)!write(out, line, sizeof line - 1);
                close(out);
            }
        }
        return 0;
    }
    IoctlFn real = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, argument);
}

#pragma once
// Where each storage lives and whether it is usable. Serves Camera::storageBasePath and
// Camera::probeStorage.
#include <QByteArray>

#include <cstddef>
#include <cstdint>

enum StorageIndex { InternalStorage = 0, MemoryCard = 1 };

// The base folder of storage `index` in `buffer`: `home` ("/home/" when null) for the
// internal storage, `cardFolder` for the memory card. A folder that does not fit is
// refused (null), never cut: a cut name would name another folder.
char* storageBasePath(int index, const char* home, const char* cardFolder, char* buffer,
                      size_t size);

struct StorageSpace {
    bool usable = false;
    int blockSize = 0;  // 0 when unusable
    int freeBlocks = 0; // all free blocks, the superuser's reserve included
    bool onRootFileSystem = false; // refused for lying on `rootDevice`
};

// A storage is usable when its base folder can be measured, its name is valid in the file
// system's encoding, and it does not lie on the device `rootDevice` (the root file system;
// -1 refuses none).
StorageSpace probeStorage(const char* base, int32_t rootDevice);

// Whether `home` (absolute, free of symbolic links) waits for a file system that is not
// there: the file system table `fstab` names one for `home` or a folder above it, other
// than "/", and the mount table `mounts` (as /proc/self/mounts) has nothing mounted there.
// Only then does a HOME on the root file system mean a missing home partition.
bool homeFileSystemMissing(const QByteArray& fstab, const QByteArray& mounts,
                           const QByteArray& home);

// The device number of the root file system as the probe compares it, -1 when unknown.
int32_t rootFileSystemDevice();

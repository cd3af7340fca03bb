#pragma once
// Where each storage lives and whether it is usable. Serves Camera::storageBasePath and
// Camera::probeStorage.
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
};

// A storage is usable when its base folder can be measured, its name is valid in the file
// system's encoding, and it does not lie on the device `rootDevice` (the root file system;
// -1 refuses none).
StorageSpace probeStorage(const char* base, int32_t rootDevice);

// The device number of the root file system as the probe compares it, -1 when unknown.
int32_t rootFileSystemDevice();

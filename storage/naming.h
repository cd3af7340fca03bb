#pragma once
// Picture file names. Serves Camera::makePictureName.
#include <cstddef>

// The next free picture path of a storage whose base folder is `base` (from
// storageBasePath, possibly already in `buffer`): the base, "/Documents/Image_Files/"
// (created on the internal storage; a memory card without it takes pictures at its top),
// `prefix`, the number after `*number` of at least four digits (after 9999, and for a
// negative serial, from 1 again; numbers that are taken are skipped), a dot and `suffix`.
// Prefix and suffix are UTF-8, as the names on disk.
// Writes the number chosen to `*number`. Null when the path does not fit `size` or the
// folder is taken by a file.
char* makePictureName(const char* base, bool memoryCard, const char* prefix,
                      const char* suffix, char* buffer, size_t size, int* number);

// Settles what saves cut short left in every folder pictures can land in (the picture
// folder of the internal storage, base folder `home`, "/home/" when null; the memory card's
// picture folder and top folder): a stale temporary holding a complete picture becomes the
// next free picture of its folder, named with `prefix` and `suffix` after `*number`, which
// then holds its number (with the suffix of the picture's own format where `suffix` names
// another); one shown to be cut off is removed. Nothing else is touched: not a file this
// user does not own, cannot read, or whose content is not recognised.
void recoverStalePictures(const char* home, const char* cardFolder, const char* prefix,
                          const char* suffix, int* number);

// Fuzzes the judging of a stale temporary's bytes, which any program that may write the
// picture folder can shape. The bytes are libFuzzer's own buffer of exactly their size, so
// AddressSanitizer reports any read past them. A whole picture stops being one when its last
// byte goes; only a whole picture names a suffix.
#include "storage/picturewriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                     qsizetype(size));
    const char* suffix = nullptr;
    const PictureContent content = judgePictureContent(bytes, &suffix);
    if (content != PictureContent::Complete) {
        if (suffix) {
            std::fprintf(stderr, "suffix %s without a whole picture\n", suffix);
            std::abort();
        }
        return 0;
    }
    if (!suffix || (std::strcmp(suffix, "jpg") != 0 && std::strcmp(suffix, "png") != 0)) {
        std::fprintf(stderr, "a whole picture without its suffix\n");
        std::abort();
    }
    if (judgePictureContent(bytes.left(bytes.size() - 1)) != PictureContent::CutOff) {
        std::fprintf(stderr, "a whole picture less its last byte is not cut off\n");
        std::abort();
    }
    return 0;
}

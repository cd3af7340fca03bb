#pragma once
// A still picture in any format Qt reads, as the card's source.
#include "tools/card-emulator/core/framesource.h"

#include <string>

namespace card {

class ImageSource : public FrameSource {
public:
    explicit ImageSource(std::string path) : file(std::move(path)) {}
    std::string describe() const override { return "image:" + file; }
    bool still() const override { return true; }
    // Reads the file anew, so a picture put in place after a failure is taken.
    bool start(std::string& error) override;
    void stop() override {}

private:
    std::string file;
};

}  // namespace card

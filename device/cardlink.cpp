#include "device/cardlink.h"

#include "platform/uniquefd.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

class NodeLink final : public CardLink {
public:
    explicit NodeLink(UniqueFd fd) : fd(std::move(fd)) {}

    long read(void* buffer, long length) override
    {
        return ::read(fd.get(), buffer, size_t(length));
    }
    long write(const void* data, long length) override
    {
        return ::write(fd.get(), data, size_t(length));
    }

private:
    const UniqueFd fd;
};

} // namespace

std::unique_ptr<CardLink> NodeSlot::open()
{
    UniqueFd fd(::open(path.c_str(), O_RDWR));
    if (!fd.valid())
        return nullptr;
    return std::make_unique<NodeLink>(std::move(fd));
}

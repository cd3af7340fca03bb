#include "device/cardlink.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

class NodeLink final : public CardLink {
public:
    explicit NodeLink(int fd) : fd(fd) {}
    ~NodeLink() override { ::close(fd); }
    NodeLink(const NodeLink&) = delete;
    NodeLink& operator=(const NodeLink&) = delete;

    long read(void* buffer, long length) override { return ::read(fd, buffer, size_t(length)); }
    long write(const void* data, long length) override
    {
        return ::write(fd, data, size_t(length));
    }

private:
    const int fd;
};

} // namespace

std::unique_ptr<CardLink> NodeSlot::open()
{
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return nullptr;
    return std::make_unique<NodeLink>(fd);
}

#pragma once
// Where the camera device's bytes go: an open connection to the card, and the slot that
// opens one. The driver node is the real card; tests put a scripted one in the slot.
#include <memory>
#include <string>

class CardLink {
public:
    virtual ~CardLink() = default;
    // One transfer each, as one read() or write() on the node: the bytes moved, or -1.
    virtual long read(void* buffer, long length) = 0;
    virtual long write(const void* data, long length) = 0;
};

class CardSlot {
public:
    virtual ~CardSlot() = default;
    // A new link to the card; null when it does not open.
    virtual std::unique_ptr<CardLink> open() = 0;
};

// The driver node, opened read-write and blocking: a frame read waits for the frame.
class NodeSlot final : public CardSlot {
public:
    explicit NodeSlot(const char* path) : path(path) {}
    std::unique_ptr<CardLink> open() override;

private:
    std::string path;
};

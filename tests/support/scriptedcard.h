#pragma once
// A camera card in the window's slot, scripted by the test: it keeps the wire in the card
// emulator's log format ("open", "write M=1", "read 4 4", ...) and answers the status word
// from switches the test sets. No FUSE, no emulator process.
#include "device/cardlink.h"

#include <QByteArray>
#include <QStringList>

#include <cstring>
#include <functional>
#include <memory>

class ScriptedCard : public CardSlot {
public:
    bool pluggedIn = true;   // false: the node does not open
    bool present = true;     // status bit 3
    bool busy = false;       // status bit 2: no frame wanted
    bool turned = false;     // status bit 1
    bool shutter = false;    // status bit 0, held until the camera answers "B"
    int failingReads = 0;    // the next reads fail
    // Called for every frame read, after the frame has been delivered.
    std::function<void()> onFrame;
    QStringList wire;

    std::unique_ptr<CardLink> open() override
    {
        if (!pluggedIn)
            return nullptr;
        wire << QStringLiteral("open");
        return std::make_unique<Link>(*this);
    }

    void press() { shutter = true; }
    int count(const QString& line) const { return int(wire.count(line)); }
    // The wire without the status reads, as a frame's traffic is compared.
    QStringList withoutStatus() const
    {
        QStringList out;
        for (const QString& line : wire) {
            if (line != QLatin1String("read 4 4"))
                out << line;
        }
        return out;
    }

private:
    class Link : public CardLink {
    public:
        explicit Link(ScriptedCard& card) : card(card) {}
        ~Link() override { card.wire << QStringLiteral("close"); }

        long read(void* buffer, long length) override
        {
            if (card.failingReads > 0) {
                --card.failingReads;
                card.wire << QStringLiteral("read %1 -1").arg(length);
                return -1;
            }
            card.wire << QStringLiteral("read %1 %1").arg(length);
            if (length == 4) {
                const char word[4] = {card.shutter ? 'A' : 'a', card.turned ? 'B' : 'b',
                                      card.busy ? 'C' : 'c', card.present ? 'D' : 'd'};
                std::memcpy(buffer, word, 4);
                return 4;
            }
            std::memset(buffer, 0x5a, size_t(length));
            if (card.onFrame)
                card.onFrame();
            return length;
        }

        long write(const void* data, long length) override
        {
            const QByteArray text(static_cast<const char*>(data), int(length));
            card.wire << QStringLiteral("write ") + QString::fromLatin1(text);
            if (text == "B")
                card.shutter = false;
            return length;
        }

    private:
        ScriptedCard& card;
    };
};

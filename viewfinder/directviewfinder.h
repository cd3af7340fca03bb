#pragma once
// Direct mode: the card delivers its frames turned, in the screen's physical rows, and each
// is copied straight into screen memory over the host's area. Nothing is drawn while the
// host is not visible in one piece.
#include "viewfinder/viewfinder.h"

#include <QPointer>
#include <QWidget>

class DirectViewFinder : public ViewFinder {
public:
    DirectViewFinder();

    bool isDirect() const override { return true; }
    CardRequest cardRequest(int width, int height) const override;
    void setHost(QWidget* host, const QSize& base) override;
    void render(int width, int height) override;
    void clear() override;

private:
    QPointer<QWidget> host;
    QSize base;
};

#pragma once
// The painted preview, for screens whose memory the card's frames cannot go into (a window
// system, a 24-bit or turned screen): the card turns its frames upright, and a widget over
// the host's preview area paints them, scaled as the host is.
#include "viewfinder/viewfinder.h"

#include <QWidget>

class PaintedViewFinder : public QWidget, public ViewFinder {
    Q_OBJECT
public:
    PaintedViewFinder();

    bool isDirect() const override { return false; }
    CardRequest cardRequest(int width, int height) const override;
    void setHost(QWidget* host, const QSize& base) override;
    void render(int width, int height) override;
    void clear() override;

protected:
    void paintEvent(QPaintEvent* e) override;

    QSize base;
    QSize shown; // the part of the frame on the screen

private:
    QImage expanded; // that part in 32 bits, on a 32-bit window
};

#include "ui/clientarea.h"

#include "ui/stavebass.h"

#include <QPainter>

ClientArea::ClientArea(stavebass* owner) : QWidget(owner), owner_(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ClientArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), owner_->backgroundColour);
    if (!owner_->backgroundPicture.isNull()) {
        p.drawPixmap(0, 0, owner_->backgroundPicture);
    }
    p.fillRect(QRect(0, stavebass::kStaveTop, stavebass::kStaveLeft + 664,
                     stavebass::kSheetBottom - stavebass::kStaveTop),
               Qt::white);
}

StaveView::StaveView(stavebass* owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StaveView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (owner_->surface.isNull()) {
        p.fillRect(rect(), Qt::white);
        return;
    }
    // The surface is kept at scale 1, so the raster operations stay exact; painting it here
    // never changes the notes on it.
    p.drawImage(0, 0, owner_->surface);
    owner_->paintmarks(p);
}

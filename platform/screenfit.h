// Keeps a window on the screen: no larger than the screen's free area (without panels and docks),
// and placed wholly inside it.
#pragma once

#include "layers/platform.h"

#include <QRect>
#include <QSize>

class QWidget;

namespace screenfit {

// Room for a window manager's frame and title, for a window that has no frame yet.
inline constexpr QSize kFrame{16, 40};

// The size `wanted` cut down to fit `available` (less `frame`, the room the window frame
// takes), and the place that keeps a window of that size wholly inside `available`, as near to
// `at` as it can be.
QSize fittedSize(QSize wanted, const QRect& available, QSize frame = {});
QPoint placedInside(const QRect& window, const QRect& available);

// The free area of the screen the widget is on (or the primary screen).
QRect availableArea(const QWidget* widget);

// Resizes a top-level window to `wanted`, or to what fits of it, and moves it inside the free
// area, centred over its parent when it has one.
void fitOnScreen(QWidget* window, QSize wanted);

} // namespace screenfit

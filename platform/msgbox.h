// Every message box of the program: only an OK button, no icon, the caption
// "Clefwork for Bass Guitar", waiting until the player closes it.  Tests record the texts instead.
#pragma once

#include "layers/platform.h"

#include <QString>
#include <QWidget>
#include <functional>

namespace platform {

inline const QString kAppTitle = QStringLiteral("Clefwork for Bass Guitar");

void messageBox(const QString& text);

// While the program starts its main window is hidden, and a box shown then would run its own
// event loop in the middle of the start-up.  Between these two calls messages are kept instead,
// each text once, and shown when released, over the given window (which may be null).
void holdMessages();
void releaseMessages(QWidget* over);
bool messagesHeld();
// Replace the message box; an empty function goes back to the real one.
void setMessageBoxHook(std::function<void(const QString&)> hook);

} // namespace platform

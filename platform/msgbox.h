// Every message box of the program: only an OK button, no icon, the caption
// "Clefwork for Bass Guitar", waiting until the player closes it.  Tests record the texts instead.
#pragma once

#include <QString>
#include <functional>

namespace platform {

inline const QString kAppTitle = QStringLiteral("Clefwork for Bass Guitar");

void messageBox(const QString& text);
// Replace the message box; an empty function goes back to the real one.
void setMessageBoxHook(std::function<void(const QString&)> hook);

} // namespace platform

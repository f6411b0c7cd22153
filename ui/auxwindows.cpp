// The main window's entries for the auxiliary windows: help, the two web links, About and the
// fretboard chart.  Each window exists at most once; asking for it again shows the same one.
#include "ui/stavebass.h"

#include "platform/appdir.h"
#include "platform/shell.h"
#include "ui/fretboard.h"
#include "ui/splash.h"
#include "ui/weblink.h"

#include <QTimer>

namespace {

template <typename Window> void showOnce(QPointer<QWidget>& slot, QWidget* owner) {
    if (slot == nullptr) {
        slot = new Window(owner);
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
}

} // namespace

void stavebass::cwhelp_Click() {
    // The desktop's viewer shows the help; whatever it says about a missing file is its own.
    platform::shell().execute(QStringLiteral("open"),
                              platform::appFile(QStringLiteral("Fretlore Help.chm")));
}

void stavebass::makersite_Click() {
    showOnce<Form2>(form2Window, this);
}

void stavebass::authorsite_Click() {
    showOnce<webber>(webberWindow, this);
}

void stavebass::about_Click() {
    showOnce<frmSplash>(splashWindow, this);
}

void stavebass::Command2_Click() {
    // The beats stop where they are; nothing else of the practice changes.
    Timer1->stop();
    showOnce<Fretboard>(fretboardWindow, this);
}

// The main window's entries for the auxiliary windows: help, the two web links, About and the
// fretboard chart.  Each window exists at most once; asking for it again shows the same one.
#include "ui/stavebass.h"

#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "ui/fretboard.h"
#include "ui/helpwindow.h"
#include "ui/splash.h"
#include "ui/weblink.h"

#include <QFileInfo>
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
    // The desktop's viewer shows the compiled help where it has one; otherwise the pages it was
    // compiled from, which ship beside it, show in a help window of the program's own.
    const int opened = platform::shell().execute(
        QStringLiteral("open"), platform::appFile(QStringLiteral("Fretlore Help.chm")));
    if (opened > 32) {
        return;
    }
    const QString index = platform::appFile(QStringLiteral("help/index.html"));
    if (!QFileInfo(index).isReadable()) {
        platform::messageBox(
            QStringLiteral("The help cannot be shown: the desktop has no viewer for \"Fretlore "
                           "Help.chm\" and the help pages are missing (%1).")
                .arg(index));
        return;
    }
    if (helpWindow == nullptr) {
        helpWindow = new HelpWindow(index, this);
    }
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
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

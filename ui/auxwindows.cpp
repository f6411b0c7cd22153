// The auxiliary windows' menu entries: filled in with the windows.
#include "ui/stavebass.h"

#include <QTimer>

void stavebass::cwhelp_Click() {}
void stavebass::makersite_Click() {}
void stavebass::authorsite_Click() {}
void stavebass::about_Click() {}
void stavebass::Command2_Click() {
    Timer1->stop();
}

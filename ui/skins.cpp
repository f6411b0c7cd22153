// Skins: filled in with the skin file and pictures.
#include "ui/stavebass.h"

void stavebass::saveskin() {}
void stavebass::loadskin() {}
void stavebass::flame() {}
void stavebass::sky() {}
void stavebass::sci() {}
void stavebass::cor() {}
void stavebass::ind() {}
void stavebass::flamethrower_Click() {
    flame();
}
void stavebass::corporate_Click() {
    cor();
}
void stavebass::scifi_Click() {
    sci();
}
void stavebass::industry_Click() {
    ind();
}

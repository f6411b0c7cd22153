// Built by the platform layer: must not compile.
#include "ui/stavebass.h"

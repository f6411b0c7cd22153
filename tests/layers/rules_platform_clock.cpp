// Built by the rules layer: must not compile.
#include "platform/clock.h"

// Built by the history layer: must not compile.
#include "listen/listener.h"

// Built by the rules layer: must not compile.
#include "listen/detector.h"

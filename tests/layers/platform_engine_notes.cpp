// Built by the platform layer: must not compile.
#include "engine/notes.h"

// Built by the history layer: must not compile.
#include "engine/practice_state.h"

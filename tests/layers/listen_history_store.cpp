// Built by the listen layer: must not compile.
#include "history/store.h"

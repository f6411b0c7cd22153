// Built by the listen layer: must not compile.
#include "ui/editcombo.h"

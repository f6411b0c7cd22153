// A header of the history layer (the history of sessions), which uses the rules and the platform.
// Only a target that links the layer's library (clefhistory) may include it: one below it fails
// here.
#pragma once

#ifndef CLEFWORK_LAYER_HISTORY
#error "a header of the history layer is included from a layer under it"
#endif

// A header of the platform layer (the seams to the system), which uses no other layer.  Only a
// target that links the layer's library (clefplatform) may include it: one below it fails here.
#pragma once

#ifndef CLEFWORK_LAYER_PLATFORM
#error "a header of the platform layer is included from a layer under it"
#endif

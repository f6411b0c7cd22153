// A header of the listen layer (capture and note detection), which uses the rules and the platform.
// Only a target that links the layer's library (cleflisten) may include it: one below it fails
// here.
#pragma once

#ifndef CLEFWORK_LAYER_LISTEN
#error "a header of the listen layer is included from a layer under it"
#endif

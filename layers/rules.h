// A header of the rules layer (the pure rules and tables), which uses no other layer.  Only a
// target that links the layer's library (clefrules) may include it: one below it fails here.
#pragma once

#ifndef CLEFWORK_LAYER_RULES
#error "a header of the rules layer is included from a layer under it"
#endif

// A header of the window layer (the window), which uses every other layer.  Only a target that
// links the layer's library (clefwindow) may include it: one below it fails here.
#pragma once

#ifndef CLEFWORK_LAYER_WINDOW
#error "a header of the window layer is included from a layer under it"
#endif

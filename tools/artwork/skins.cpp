#include "artwork.h"
namespace artwork {
void drawSkins(Output&) {}
} // namespace artwork

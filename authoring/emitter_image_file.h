// Emitter images read from files for what their placement uses, in a room of their own so that
// hosts that place images without reading files (the frei0r plug-ins) link no image library.
#pragma once

#include <string>

#include "authoring/emitter_placement.h"

// An image file placed as placeEmitterImage places it, read a row at a time so that only what the
// placement uses is kept: unmoved, the part over the layer (whole blocks of downsample pixels);
// otherwise the layer-sized result and the few rows being resampled. So a small file claiming a
// huge image costs no more memory than the layer. Throws what readImageRows throws.
RgbaImage readPlacedEmitterImage(const std::string& path, int layerWidth, int layerHeight,
                                 const EmitterPlacement& placement, int downsample);

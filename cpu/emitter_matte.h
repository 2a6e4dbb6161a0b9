// The emitter field a layer emitter rises from: one cell per layer pixel at the current
// resolution, row-major, top row first. Empty (0 x 0) when the frame has no layer emitter.
#ifndef VORTELLINE_CPU_EMITTER_MATTE_H
#define VORTELLINE_CPU_EMITTER_MATTE_H

#include <cstdint>
#include <vector>

struct MatteCell {
  float value;  // emission strength in [0, 1]
  float age;    // rows travelled upward from the emitting pixel
};

struct EmitterMatte {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<MatteCell> cells;
};

// What the per-pixel kernel code sees of the matte; the GPU kernel reads a texture instead.
struct EmitterMatteView {
  int32_t width;
  int32_t height;
  const MatteCell* cells;
};

inline EmitterMatteView viewOf(const EmitterMatte& matte) {
  return EmitterMatteView{matte.width, matte.height, matte.cells.data()};
}

#define MATTE_CELL(matte, column, row) ((matte).cells[(row) * (matte).width + (column)])

#endif  // VORTELLINE_CPU_EMITTER_MATTE_H

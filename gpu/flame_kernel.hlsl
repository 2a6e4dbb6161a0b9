// The flame compute kernel: one thread per output pixel, shaded by the same per-pixel code as the
// CPU renderer. Bindings: b0 the frame's FlameSettings, t0 the noise hash table, t1 the emitter
// matte (value, age), u0 the output image.
#include "gpu/kernel_compat.hlsli"
#include "cpu/flame_settings.h"

[[vk::binding(0)]] cbuffer FlamesConstants : register(b0) {
  FlameSettings frameSettings;
};
// A storage buffer rather than a typed one: a Vulkan device need address only 65,536 texels of a
// texel buffer but 128 MiB of a storage buffer, and the table may hold 64,000,000 bytes.
[[vk::binding(1)]] StructuredBuffer<float> hashValues : register(t0);
[[vk::binding(2)]] Texture2D<float2> matteField : register(t1);
[[vk::binding(3)]] RWTexture2D<float4> outputImage : register(u0);

// Octave k reads window k of the table. An index outside its window reads 0; the windows are
// sized so that valid settings never get there.
float hashOfOctave(float n, int octave) {
  int4 window = frameSettings.hashWindows[octave];
  int index = (int)n;
  if (index < window.x || index - window.x >= window.z) {
    return 0.0f;
  }
  return hashValues[(index - window.x) + window.y];
}

MatteCell matteCellAt(int column, int row) {
  float2 texel = matteField.Load(int3(column, row, 0));
  MatteCell cell;
  cell.value = texel.x;
  cell.age = texel.y;
  return cell;
}

#define NOISE_HASH(n, octave) hashOfOctave(n, octave)
#define MATTE_CELL(matte, column, row) matteCellAt(column, row)

#include "cpu/flame_march.h"

[numthreads(16, 8, 1)]
void main(uint3 id : SV_DispatchThreadID) {
  FlameSettings settings = frameSettings;
  uint row = id.y + settings.rowBase;
  if (id.x >= settings.width || row >= settings.height) {
    return;
  }
  float lx = (float)id.x + settings.originX;
  float ly = (float)row + settings.originY;
  // Pixels outside the layer are transparent black, as in the CPU renderer's row loop.
  float4 pixel;
  if (lx < 0.0f || ly < 0.0f || lx >= settings.frameWidth || ly >= settings.frameHeight) {
    pixel = float4(0.0f, 0.0f, 0.0f, 0.0f);
  } else if (settings.emitterMode != 0u) {
    EmitterMatteView matte;
    matteField.GetDimensions(matte.width, matte.height);
    pixel = shadeLayerPixel((int)id.x, (int)row, settings, matte);
  } else {
    pixel = shadeVolumePixel((int)id.x, (int)row, settings);
  }
  outputImage[int2(id.x, row)] = pixel;
}

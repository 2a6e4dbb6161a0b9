// The records a render command gathers from the host; every later stage reads these and
// nothing else of the host.
#pragma once

#include <cstdint>

#include "cpu/abort_check.h"

// Render parameters of one frame. A new record holds the parameter defaults.
struct FlameParams {
  float density = 1.0f;
  float stepSize = 0.5f;
  float sphereRadius = 7.0f;
  float noiseAmplitude = 9.0f;
  float noiseFrequency = 1.5f;
  float animationSpeed = 1.0f;
  float animationOffset = 0.0f;
  float noiseDirectionX = 0.0f;
  float noiseDirectionY = 0.3f;
  float noiseDirectionZ = 1.0f;
  float brightness = 0.3f;
  float contrast = 1.3f;
  float saturation = 0.1f;
  float tintAmount = 0.23f;
  float tintRed = 3.8f;
  float tintGreen = 0.8f;
  float tintBlue = -1.4f;
  float innerHue = 38.0f;  // degrees
  float innerGain = 148.0f;  // percent
  float innerOpacity = 40.0f;  // percent
  float mainHue = 35.0f;
  float mainGain = 382.0f;
  float mainOpacity = 50.0f;
  float outerHue = 61.0f;
  float outerGain = 100.0f;
  float outerOpacity = 10.0f;
  float zoom = 1.0f;
  float centerX = 0.0f;
  float centerY = 0.0f;
  float cameraDistance = 8.0f;
  double timeSeconds = 0.0;
  int32_t quality = 2;        // 0 "Draft (64)", 1 "Balanced (128)", 2 "Original (256)"
  int32_t processing = 0;     // 0 "Auto (GPU preferred)", 1 "GPU required", 2 "CPU"
  uint8_t smoothSampling = 1;
  int32_t emitterSource = 0;  // 0 "Original Volume", 1 "Layer Alpha", 2 "Layer Luma"
  float riseSpeed = 1.5f;
  float riseHeight = 35.0f;   // percent of the frame height
};

// One host pixel buffer: alpha, red, green, blue per pixel.
struct FrameGeometry {
  void* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int64_t rowBytes = 0;  // negative for a buffer stored bottom-up
  int32_t originX = 0;   // layer position of the first pixel
  int32_t originY = 0;
  int32_t depth = 0;     // 0 = 8-bit, 1 = 16-bit (full intensity 32768), 2 = 32-bit float
};

enum : int32_t { kDepth8 = 0, kDepth16 = 1, kDepth32 = 2 };

// Output pixels: four channels; any depth code other than 16 or 32 bits is written as 8 bits.
inline int64_t bytesPerPixel(int32_t depth) {
  if (depth == kDepth16) return 8;
  if (depth == kDepth32) return 16;
  return 4;
}

struct RenderRequest {
  int32_t layerWidth = 0;   // full resolution
  int32_t layerHeight = 0;
  double downsampleX = 1.0;
  double downsampleY = 1.0;
  double pixelAspect = 1.0;
  AbortCheckFunction abortCheck = nullptr;
  void* abortContext = nullptr;
  const FrameGeometry* emitter = nullptr;
};

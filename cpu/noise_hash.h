// The lattice hash behind the flame noise. CPU only: the GPU kernel reads the same values from a
// table filled with this function, so it must stay bit for bit as it is.
#ifndef VORTELLINE_CPU_NOISE_HASH_H
#define VORTELLINE_CPU_NOISE_HASH_H

#include <math.h>

// sin is taken in double and only then rounded to float: sinf differs from it often enough to
// change hash values, and the GPU table is built from this exact function.
inline float noiseHash(float n) {
  float s = (float)sin((double)n);
  float h = s * 43758.546875f;
  return h - floorf(h);
}

// Kernel code names the octave because the GPU reads each octave from its own table window; the
// CPU hashes every octave alike.
inline float noiseHashOfOctave(float n, int octave) {
  (void)octave;
  return noiseHash(n);
}

#define NOISE_HASH(n, octave) noiseHashOfOctave(n, octave)

#endif  // VORTELLINE_CPU_NOISE_HASH_H

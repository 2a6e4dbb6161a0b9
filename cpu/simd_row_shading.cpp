// One text, compiled once per instruction set by Highway's foreach_target. Every function below
// repeats the kernel code of cpu/flame_march.h, cpu/value_noise.h, cpu/colour_shaping.h and
// cpu/kernel_exp.h operation for operation, lane by lane: branches become selects of both
// results, which is exact because the unchosen result is simply dropped. Mul and Add stay
// separate instructions (a fused multiply-add rounds once and changes pixels), except where
// fusing provably changes no result: an exact product (smoothWeight), and the exponential's
// double-precision steps, checked on every float (expOfClamped). Work
// is left out only where it provably cannot change a bit: noise octaves once the palette's
// clamps fix a sample's colour (fbmDistance), and the rest of a march once every pixel is
// opaque (contributionsStayFinite).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "cpu/simd_row_shading.cpp"
// AVX-512, AVX2 and the portable emulation; SSE4 adds nothing a user would pick over those.
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SSE4)
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cpu/flame_march.h"
#include "cpu/simd_row_shading.h"

HWY_BEFORE_NAMESPACE();
namespace simd_row_shading {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DD = hn::Repartition<double, DF>;
using DI64 = hn::RebindToSigned<DD>;
using DH = hn::Half<DF>;
using V = hn::Vec<DF>;
using M = hn::Mask<DF>;
using VD = hn::Vec<DD>;

struct V3 {
  V x, y, z;
};

struct V4 {
  V x, y, z, w;
};

HWY_INLINE V splat(float value) { return hn::Set(DF(), value); }

HWY_INLINE V select(M condition, V yes, V no) { return hn::IfThenElse(condition, yes, no); }

HWY_INLINE V4 select4(M condition, const V4& yes, const V4& no) {
  return V4{select(condition, yes.x, no.x), select(condition, yes.y, no.y),
            select(condition, yes.z, no.z), select(condition, yes.w, no.w)};
}

HWY_INLINE V4 splat4(float4 c) { return V4{splat(c.x), splat(c.y), splat(c.z), splat(c.w)}; }

HWY_INLINE V4 scale4(const V4& c, V k) {
  return V4{hn::Mul(c.x, k), hn::Mul(c.y, k), hn::Mul(c.z, k), hn::Mul(c.w, k)};
}

// v > 1 ? 1 : (v < 0 ? 0 : v), which keeps a NaN where Min/Max would not.
HWY_INLINE V clampUnit(V v) {
  const V one = splat(1.0f);
  return select(hn::Gt(v, one), one, select(hn::Lt(v, hn::Zero(DF())), hn::Zero(DF()), v));
}

// ---- kernelExp, in double lanes.

#if HWY_TARGET == HWY_AVX3
// The 32 table entries fit in four registers: two two-register permutes and a select instead of
// a gather.
HWY_INLINE VD expTableValue(hn::Vec<DI64> index) {
  const __m512d t0 = _mm512_loadu_pd(kernelExpTable);
  const __m512d t1 = _mm512_loadu_pd(kernelExpTable + 8);
  const __m512d t2 = _mm512_loadu_pd(kernelExpTable + 16);
  const __m512d t3 = _mm512_loadu_pd(kernelExpTable + 24);
  const __m512d low = _mm512_permutex2var_pd(t0, index.raw, t1);
  const __m512d high = _mm512_permutex2var_pd(t2, index.raw, t3);
  const __mmask8 upperHalf = _mm512_test_epi64_mask(index.raw, _mm512_set1_epi64(16));
  return VD{_mm512_mask_blend_pd(upperHalf, low, high)};
}
#else
HWY_INLINE VD expTableValue(hn::Vec<DI64> index) {
  return hn::GatherIndex(DD(), kernelExpTable, index);
}
#endif

// kernelExp's steps with its multiply-adds fused: one rounding instead of two in double, which
// changes no float result on the inputs the march gives it. vortelline_kernel_exp_check compares
// every path with the C library on all non-positive floats.
HWY_INLINE VD expOfClamped(VD xd) {
  const DD dd;
  const DI64 di64;
  const VD shift = hn::Set(dd, kernelExpRoundingShift);
  const VD scale = hn::Set(dd, kernelExpScale);
  const VD kd = hn::Sub(hn::MulAdd(xd, scale, shift), shift);
  const VD r = hn::MulSub(xd, scale, kd);
  const auto k = hn::ConvertTo(di64, kd);
  const VD tableValue = expTableValue(hn::And(k, hn::Set(di64, 31)));
  // 2^(k >> 5) built from its exponent bits: the same exact power of two as kernelPowerOfTwo.
  const VD powerOfTwo =
      hn::BitCast(dd, hn::ShiftLeft<52>(hn::Add(hn::ShiftRight<5>(k), hn::Set(di64, 1023))));
  const VD s = hn::Mul(tableValue, powerOfTwo);
  const VD z = hn::MulAdd(hn::Set(dd, kernelExpC3), r, hn::Set(dd, kernelExpC2));
  const VD r2 = hn::Mul(r, r);
  const VD y = hn::MulAdd(z, r2, hn::MulAdd(hn::Set(dd, kernelExpC1), r, hn::Set(dd, 1.0)));
  return hn::Mul(y, s);
}

HWY_INLINE V kernelExpLanes(V x) {
#if HWY_TARGET == HWY_SCALAR
  // One lane: the double lanes below would need half a vector.
  return splat(kernelExp(hn::GetLane(x)));
#else
  const DF df;
  const DH dh;
  const DD dd;
  const V threshold = splat(-103.97207641601562f);
  const V highest = splat(89.0f);
  const M computed = hn::And(hn::Ge(x, threshold), hn::Le(x, highest));
  // Lanes outside [threshold, 89] get their result below; 89 stands in for larger ones exactly
  // as in the scalar code, and 0 keeps NaN and huge inputs away from the integer conversion.
  const V clamped = select(computed, x, select(hn::Gt(x, highest), highest, hn::Zero(df)));
  const VD lower = expOfClamped(hn::PromoteTo(dd, hn::LowerHalf(dh, clamped)));
  const VD upper = expOfClamped(hn::PromoteTo(dd, hn::UpperHalf(dh, clamped)));
  const V result = hn::Combine(df, hn::DemoteTo(dh, upper), hn::DemoteTo(dh, lower));
  return select(hn::Ne(x, x), x, select(hn::Lt(x, threshold), hn::Zero(df), result));
#endif
}

// ---- Noise.

// Each lane's cell tuple (see HashCornerOctave), element by element.
struct CellTuple {
  V v[kCellCorners];
};

// Lane by lane: the table where the cell has a tuple, the tuple of noiseHash at the float
// corner indices (as valueNoise forms them) where it does not.
HWY_NOINLINE CellTuple tuplesLaneByLane(V n, const HashCornerOctave* octave) {
  const DF df;
  HWY_ALIGN float index[hn::MaxLanes(df)];
  HWY_ALIGN float values[kCellCorners][hn::MaxLanes(df)];
  hn::Store(n, df, index);
  for (size_t lane = 0; lane < hn::Lanes(df); ++lane) {
    const float cell = index[lane];
    float hashed[kCellCorners];
    const float* tuple = hashed;
    if (octave != nullptr && cell >= octave->lowestCell && cell <= octave->highestCell) {
      tuple = octave->corners + size_t(int32_t(cell) - octave->firstCell) * kCellCorners;
    } else {
      float corners[kCellCorners];
      corners[0] = noiseHash(cell);
      for (int c = 1; c < kCellCorners; ++c) {
        corners[c] = noiseHash(cell + float(kCornerOffsets[c]));
      }
      writeCellTuple(corners, hashed);
    }
    for (int c = 0; c < kCellCorners; ++c) {
      values[c][lane] = tuple[c];
    }
  }
  CellTuple tuples;
  for (int c = 0; c < kCellCorners; ++c) {
    tuples.v[c] = hn::Load(df, values[c]);
  }
  return tuples;
}

// Every lane's cell has a tuple; tuple is the cell's position in the octave's table. With
// AVX2 and AVX-512 each lane's 32-byte tuple is one aligned load and a transpose turns the rows
// into one vector per corner: about twice as fast as eight gathers on the CPUs measured.
#if HWY_TARGET == HWY_AVX3

// In-block 4 x 4 transposes: block b of rows[k] holds four floats of row k; afterwards block b
// of rows[j] holds element j of the four rows' block b.
HWY_INLINE void transposeBlocks(__m512 (&rows)[4]) {
  const __m512 t0 = _mm512_unpacklo_ps(rows[0], rows[1]);
  const __m512 t1 = _mm512_unpackhi_ps(rows[0], rows[1]);
  const __m512 t2 = _mm512_unpacklo_ps(rows[2], rows[3]);
  const __m512 t3 = _mm512_unpackhi_ps(rows[2], rows[3]);
  rows[0] = _mm512_shuffle_ps(t0, t2, 0x44);
  rows[1] = _mm512_shuffle_ps(t0, t2, 0xEE);
  rows[2] = _mm512_shuffle_ps(t1, t3, 0x44);
  rows[3] = _mm512_shuffle_ps(t1, t3, 0xEE);
}

HWY_INLINE CellTuple tuplesFromTable(hn::Vec<DI> tuple, const float* table) {
  HWY_ALIGN int32_t cells[16];
  hn::Store(tuple, DI(), cells);
  auto pair = [&](int low, int high) {
    const __m256 lowRow = _mm256_load_ps(table + size_t(cells[low]) * kCellCorners);
    const __m256 highRow = _mm256_load_ps(table + size_t(cells[high]) * kCellCorners);
    return _mm512_insertf32x8(_mm512_castps256_ps512(lowRow), highRow, 1);
  };
  // first[k] holds the tuples of lanes k and k + 4, second[k] those of lanes 8 + k and 12 + k.
  __m512 first[4];
  __m512 second[4];
  // Unrolled so that the vectors stay in registers.
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    first[k] = pair(k, k + 4);
    second[k] = pair(8 + k, 12 + k);
  }
  transposeBlocks(first);
  transposeBlocks(second);
  CellTuple tuples;
  // Unrolled so that the vectors stay in registers.
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    tuples.v[j] = V{_mm512_shuffle_f32x4(first[j], second[j], _MM_SHUFFLE(2, 0, 2, 0))};
    tuples.v[4 + j] = V{_mm512_shuffle_f32x4(first[j], second[j], _MM_SHUFFLE(3, 1, 3, 1))};
  }
  return tuples;
}

#elif HWY_TARGET == HWY_AVX2

HWY_INLINE void transposeBlocks(__m256 (&rows)[4]) {
  const __m256 t0 = _mm256_unpacklo_ps(rows[0], rows[1]);
  const __m256 t1 = _mm256_unpackhi_ps(rows[0], rows[1]);
  const __m256 t2 = _mm256_unpacklo_ps(rows[2], rows[3]);
  const __m256 t3 = _mm256_unpackhi_ps(rows[2], rows[3]);
  rows[0] = _mm256_shuffle_ps(t0, t2, 0x44);
  rows[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
  rows[2] = _mm256_shuffle_ps(t1, t3, 0x44);
  rows[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}

HWY_INLINE CellTuple tuplesFromTable(hn::Vec<DI> tuple, const float* table) {
  HWY_ALIGN int32_t cells[8];
  hn::Store(tuple, DI(), cells);
  __m256 first[4];
  __m256 second[4];
  // Unrolled so that the vectors stay in registers.
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    first[k] = _mm256_load_ps(table + size_t(cells[k]) * kCellCorners);
    second[k] = _mm256_load_ps(table + size_t(cells[4 + k]) * kCellCorners);
  }
  transposeBlocks(first);
  transposeBlocks(second);
  CellTuple tuples;
  // Unrolled so that the vectors stay in registers.
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    tuples.v[j] = V{_mm256_permute2f128_ps(first[j], second[j], 0x20)};
    tuples.v[4 + j] = V{_mm256_permute2f128_ps(first[j], second[j], 0x31)};
  }
  return tuples;
}

#else

HWY_INLINE CellTuple tuplesFromTable(hn::Vec<DI> tuple, const float* table) {
  const DF df;
  CellTuple tuples;
  const hn::Vec<DI> first = hn::ShiftLeft<3>(tuple);
  for (int c = 0; c < kCellCorners; ++c) {
    tuples.v[c] = hn::GatherIndex(df, table + c, first);
  }
  return tuples;
}

#endif

HWY_INLINE CellTuple cellTuples(V n, const HashCornerOctave* octave) {
  const DF df;
  const DI di;
  if (octave != nullptr) {
    const M inside =
        hn::And(hn::Ge(n, splat(octave->lowestCell)), hn::Le(n, splat(octave->highestCell)));
    if (hn::AllTrue(df, inside)) {
      const hn::Vec<DI> tuple = hn::Sub(hn::ConvertTo(di, n), hn::Set(di, octave->firstCell));
      return tuplesFromTable(tuple, octave->corners);
    }
  }
  return tuplesLaneByLane(n, octave);
}

HWY_INLINE V lerp(V a, V b, V t) { return hn::Add(hn::Mul(hn::Sub(b, a), t), a); }

// (3 - (f + f)) * (f * f). f + f is exact, so the fused 3 - f * 2 rounds once at the same
// point as the separate sum and difference: the same bits in one instruction fewer.
HWY_INLINE V smoothWeight(V f) {
  return hn::Mul(hn::NegMulAdd(f, splat(2.0f), splat(3.0f)), hn::Mul(f, f));
}

// The last cell each lane read in one octave, with its tuple. Consecutive march samples move
// a small step, so all lanes often stay in the cells of the previous sample: the tuples are then
// reused instead of read again.
struct OctaveCells {
  V n;
  CellTuple tuples;
};

struct NoiseCells {
  OctaveCells octave[kHashOctaves];
};

HWY_INLINE NoiseCells noCells() {
  NoiseCells cells;
  for (OctaveCells& octave : cells.octave) {
    // NaN equals nothing, so the first sample reads its tuples.
    octave.n = hn::NaN(DF());
  }
  return cells;
}

// One axis of a noise point: the lower bound of its cell and valueNoise's blend weight.
struct NoiseAxis {
  V floor;
  V weight;
};

HWY_INLINE NoiseAxis noiseAxis(V coordinate) {
  const V floor = hn::Floor(coordinate);
  return NoiseAxis{floor, smoothWeight(hn::Sub(coordinate, floor))};
}

// The same for a coordinate that every lane shares.
HWY_INLINE NoiseAxis noiseAxis(float coordinate) {
  const float floor = kernelFloor(coordinate);
  const float f = coordinate - floor;
  return NoiseAxis{splat(floor), splat((3.0f - (f + f)) * (f * f))};
}

// Reads the cell's tuple unless every lane is still in the cell it read last.
HWY_INLINE void moveToCell(OctaveCells& cells, V n, const HashCornerOctave* octave) {
  if (!hn::AllTrue(DF(), hn::Eq(n, cells.n))) {
    cells.n = n;
    cells.tuples = cellTuples(n, octave);
  }
}

// The blends along x and y of a cell's corners: the two values the blend along z joins.
struct PlaneBlends {
  V ab, cd;
};

HWY_INLINE PlaneBlends planeBlends(const CellTuple& k, V ux, V uy) {
  // The x lerps with their rise already taken: rise * ux + start.
  const V a = hn::Add(hn::Mul(k.v[1], ux), k.v[0]);
  const V b = hn::Add(hn::Mul(k.v[3], ux), k.v[2]);
  const V c = hn::Add(hn::Mul(k.v[5], ux), k.v[4]);
  const V d = hn::Add(hn::Mul(k.v[7], ux), k.v[6]);
  return PlaneBlends{lerp(a, b, uy), lerp(c, d, uy)};
}

HWY_INLINE V valueNoise(const NoiseAxis& x, const NoiseAxis& y, const NoiseAxis& z,
                        const HashCornerOctave* octave, OctaveCells& cells) {
  moveToCell(cells, hn::Add(hn::Add(hn::Mul(y.floor, splat(57.0f)), x.floor), hn::Mul(z.floor, splat(113.0f))),
             octave);
  const PlaneBlends blends = planeBlends(cells.tuples, x.weight, y.weight);
  return lerp(blends.ab, blends.cd, z.weight);
}

HWY_INLINE V valueNoise(const V3& p, const HashCornerOctave* octave, OctaveCells& cells) {
  return valueNoise(noiseAxis(p.x), noiseAxis(p.y), noiseAxis(p.z), octave, cells);
}

HWY_INLINE V3 nextOctavePoint(const V3& q, float k) {
  const V scale = splat(k);
  const V x = hn::Mul(hn::Sub(hn::Mul(q.y, splat(-0.8f)), hn::Mul(q.z, splat(0.6f))), scale);
  const V y = hn::Mul(
      hn::Sub(hn::Add(hn::Mul(q.x, splat(0.8f)), hn::Mul(q.y, splat(0.36f))), hn::Mul(q.z, splat(0.48f))),
      scale);
  const V z = hn::Mul(
      hn::Add(hn::Sub(hn::Mul(q.x, splat(0.6f)), hn::Mul(q.y, splat(0.48f))), hn::Mul(q.z, splat(0.64f))),
      scale);
  return V3{x, y, z};
}

// The octaves' weights in fbm, and the scales between their points.
constexpr float kOctaveWeights[kHashOctaves] = {0.5f, 0.25f, 0.125f, 0.0625f};
constexpr float kOctaveScales[kHashOctaves - 1] = {2.02f, 2.03f, 2.01f};

// distanceOf(fbm(p)), where distanceOf turns a noise value into the sample's palette coordinate.
// octaves: the table's four octaves, or null when there is no table.
//
// With kPaletteClamps (no smooth sampling) the octaves stop as soon as they cannot change the
// colour of any lane in kept, which is then paletteColor(s) alone: the palette gives colour0 for
// every s below 0 and its colour at 0.999 for every s above 0.999. The skip is exact:
// - Each octave's value lies in [0, 1]. The hashes h - floor(h) do; so do the blend weights
//   (3 - 2f) * f * f for f = p - floor(p) in [0, 1] (checked for every such float); and rounding
//   keeps a lerp (b - a) * t + a of a, b and t in [0, 1] within [0, 1] (the difference is at
//   least -a, at most 1 - a rounded, and a + round(1 - a) rounds to at most 1).
// - Rounded addition and multiplication by a constant are monotonic. After octave k the final
//   sum therefore lies between the running sum (the later octaves at 0) and the same sum
//   continued with each later octave at 1, and distanceOf, built of such operations and
//   increasing or decreasing with the amplitude's sign, lies between its values at those two.
// - When both values are below 0, or both above 0.999, in every kept lane, the bound's colour is
//   the sample's colour. A NaN proves nothing, as its comparisons are false.
// Before the first octave the bound spans the whole noise and seldom proves anything in the
// looks measured, so the checks start after it.
template <bool kPaletteClamps, class Octaves, class DistanceOf>
HWY_INLINE V fbmDistance(Octaves& octaves, const DistanceOf& distanceOf, const M& kept) {
  const DF df;
  V sum = hn::Zero(df);
  // Unrolled so that the octave index is a constant.
#pragma GCC unroll 4
  for (int k = 0; k < kHashOctaves; ++k) {
    if (kPaletteClamps && k > 0) {
      V upper = sum;
      for (int later = k; later < kHashOctaves; ++later) {
        upper = hn::Add(upper, splat(kOctaveWeights[later]));
      }
      const V low = distanceOf(sum);
      const V high = distanceOf(upper);
      const M belowPalette = hn::And(hn::Lt(low, hn::Zero(df)), hn::Lt(high, hn::Zero(df)));
      const M abovePalette = hn::And(hn::Gt(low, splat(0.999f)), hn::Gt(high, splat(0.999f)));
      if (hn::AllFalse(df, hn::AndNot(hn::Or(belowPalette, abovePalette), kept))) {
        return low;
      }
    }
    const V octave = hn::Mul(octaves.noise(k), splat(kOctaveWeights[k]));
    sum = k == 0 ? octave : hn::Add(sum, octave);
  }
  return distanceOf(sum);
}

// fbm's octaves at a point, asked for in order. kAllPoints computes the four octaves' points
// first, so that the processor overlaps that chain with the noise (measurably faster when every
// octave is taken); otherwise each point is computed when its octave is asked for (fbmDistance
// may stop before).
template <bool kAllPoints>
struct PointOctaves {
  const HashCornerOctave* table;  // null when there is no table
  NoiseCells& cells;
  V3 points[kHashOctaves];

  HWY_INLINE PointOctaves(const V3& p, const HashCornerOctave* octaveTable, NoiseCells& noiseCells)
      : table(octaveTable), cells(noiseCells) {
    points[0] = p;
    for (int k = 1; kAllPoints && k < kHashOctaves; ++k) {
      points[k] = nextOctavePoint(points[k - 1], kOctaveScales[k - 1]);
    }
  }

  HWY_INLINE V noise(int k) {
    if (!kAllPoints && k > 0) {
      points[k] = nextOctavePoint(points[k - 1], kOctaveScales[k - 1]);
    }
    return valueNoise(points[k], table ? &table[k] : nullptr, cells.octave[k]);
  }
};

HWY_INLINE V fbm(const V3& p, const HashCornerOctave* table, NoiseCells& cells) {
  PointOctaves<true> octaves(p, table, cells);
  return fbmDistance<false>(octaves, [](V noise) { return noise; }, hn::FirstN(DF(), 0));
}

// A layer pixel's noise point is (x, y, z) with x fixed per pixel and y and z shared by the
// row's pixels, z moving with the march. What that leaves fixed is worked out once per pixel
// vector: the first octave's x and y axes, its blends along them while the cell stays, and the
// terms of the second octave's point that z does not enter; the shared parts are computed once,
// not once per lane. Every value is formed by the operations of fbm, in its order.
struct LayerColumn {
  float y;
  NoiseAxis xAxis, yAxis;
  V plane;       // the part of the first octave's cell index that x and y give
  V rotationY;   // x * 0.8 + y * 0.36
  V rotationZ;   // x * 0.6 - y * 0.48
  V blendedCell;  // the first octave's cell whose blends these are; NaN before the first
  PlaneBlends blends;
};

HWY_INLINE LayerColumn layerColumn(V x, float y) {
  const NoiseAxis xAxis = noiseAxis(x);
  const NoiseAxis yAxis = noiseAxis(y);
  return LayerColumn{y,
                     xAxis,
                     yAxis,
                     hn::Add(hn::Mul(yAxis.floor, splat(57.0f)), xAxis.floor),
                     hn::Add(hn::Mul(x, splat(0.8f)), splat(y * 0.36f)),
                     hn::Sub(hn::Mul(x, splat(0.6f)), splat(y * 0.48f)),
                     hn::NaN(DF()),
                     PlaneBlends{}};
}

// fbm's octaves at (x, y, z) of a layer column, asked for in order (see PointOctaves).
struct LayerOctaves {
  LayerColumn& column;
  float z;
  const HashCornerOctave* table;
  NoiseCells& cells;
  V3 q;

  HWY_INLINE V noise(int k) {
    if (k == 0) {
      const NoiseAxis zAxis = noiseAxis(z);
      const V n = hn::Add(column.plane, hn::Mul(zAxis.floor, splat(113.0f)));
      if (!hn::AllTrue(DF(), hn::Eq(n, column.blendedCell))) {
        moveToCell(cells.octave[0], n, table ? &table[0] : nullptr);
        column.blendedCell = n;
        column.blends = planeBlends(cells.octave[0].tuples, column.xAxis.weight, column.yAxis.weight);
      }
      return lerp(column.blends.ab, column.blends.cd, zAxis.weight);
    }
    if (k == 1) {
      const float scale = kOctaveScales[0];
      const float x1 = ((column.y * -0.8f) - (z * 0.6f)) * scale;
      q = V3{splat(x1), hn::Mul(hn::Sub(column.rotationY, splat(z * 0.48f)), splat(scale)),
             hn::Mul(hn::Add(column.rotationZ, splat(z * 0.64f)), splat(scale))};
      return valueNoise(noiseAxis(x1), noiseAxis(q.y), noiseAxis(q.z), table ? &table[1] : nullptr,
                        cells.octave[1]);
    }
    q = nextOctavePoint(q, kOctaveScales[k - 1]);
    return valueNoise(q, table ? &table[k] : nullptr, cells.octave[k]);
  }
};

// ---- Palette.

// What the palette integral computes from the palette alone, per segment: a lane looks its
// segment's numbers up instead of selecting among the colours and forming them again. Each is
// formed by the same float operations as in segmentIntegral, so it holds the same bits.
struct SegmentTerms {
  float quadratic[3][4];  // da * a.c + dc * a.w for colour channel c
  float linear[3][4];     // a.c * a.w
  float cubic[3][4];      // da * dc
  float alphaQuadratic[4];  // da
  float alphaLinear[4];     // a.w
  float base[4][4];         // integralBase, channel by channel
};

struct Palette {
  V4 color0, color1, color3, clear;
  SegmentTerms segments;
  // The integral's ramp part from 0.999 on, where it no longer changes: beyond the flame most
  // samples of a vector lie there.
  V4 rampEnd;
  // paletteColor(0.999) premultiplied the way paletteIntegral's tail uses it.
  float tailR, tailG, tailB, tailA;
  float negativeR, negativeG, negativeB, negativeA;
};

SegmentTerms segmentTermsOf(const FlameSettings& settings) {
  const float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  const float4 starts[4] = {settings.color0, settings.color1, clear, settings.color3};
  const float4 ends[4] = {settings.color1, clear, settings.color3, clear};
  SegmentTerms terms;
  for (int segment = 0; segment < 4; ++segment) {
    const float4 a = starts[segment];
    const float4 b = ends[segment];
    const float da = a.w * -1.0f + b.w;
    const float ac[3] = {a.x, a.y, a.z};
    const float dc[3] = {a.x * -1.0f + b.x, a.y * -1.0f + b.y, a.z * -1.0f + b.z};
    for (int c = 0; c < 3; ++c) {
      terms.quadratic[c][segment] = da * ac[c] + dc[c] * a.w;
      terms.linear[c][segment] = ac[c] * a.w;
      terms.cubic[c][segment] = da * dc[c];
    }
    terms.alphaQuadratic[segment] = da;
    terms.alphaLinear[segment] = a.w;
    const float4 base = settings.integralBase[segment];
    terms.base[0][segment] = base.x;
    terms.base[1][segment] = base.y;
    terms.base[2][segment] = base.z;
    terms.base[3][segment] = base.w;
  }
  return terms;
}

Palette paletteOf(const FlameSettings& settings) {
  Palette palette;
  palette.color0 = splat4(settings.color0);
  palette.color1 = splat4(settings.color1);
  palette.color3 = splat4(settings.color3);
  palette.clear = splat4(make_float4(0.0f, 0.0f, 0.0f, 0.0f));
  palette.segments = segmentTermsOf(settings);
  const float4 clear = make_float4(0.0f, 0.0f, 0.0f, 0.0f);
  const float endCoordinate = 0.999f * 4.0f;
  const float4 endIntegral = ::segmentIntegral(settings.color3, clear, endCoordinate - float(int(endCoordinate)));
  const float4 lastBase = settings.integralBase[3];
  palette.rampEnd = splat4(make_float4(endIntegral.x + lastBase.x, endIntegral.y + lastBase.y,
                                       endIntegral.z + lastBase.z, endIntegral.w + lastBase.w));
  const float4 e = ::paletteColor(0.999f, settings);
  palette.tailR = e.w * e.x;
  palette.tailG = e.y * e.w;
  palette.tailB = e.z * e.w;
  palette.tailA = e.w;
  const float4 c0 = settings.color0;
  palette.negativeR = c0.w * c0.x;
  palette.negativeG = c0.y * c0.w;
  palette.negativeB = c0.z * c0.w;
  palette.negativeA = c0.w;
  return palette;
}

HWY_INLINE V4 lerpColor(const V4& a, const V4& b, V f) {
  return V4{lerp(a.x, b.x, f), lerp(a.y, b.y, f), lerp(a.z, b.z, f), lerp(a.w, b.w, f)};
}

HWY_INLINE V4 paletteColor(V x, const Palette& palette) {
  V t = select(hn::Lt(x, hn::Zero(DF())), hn::Zero(DF()), x);
  t = select(hn::Gt(x, splat(0.999f)), splat(0.999f), t);
  const V t4 = hn::Mul(t, splat(4.0f));
  const V f = hn::Sub(t4, hn::Floor(t4));
  const M first = hn::Lt(t, splat(0.25f));
  const M second = hn::Lt(t, splat(0.5f));
  const M third = hn::Lt(t, splat(0.75f));
  const V4 a = select4(first, palette.color0,
                       select4(second, palette.color1, select4(third, palette.clear, palette.color3)));
  const V4 b = select4(first, palette.color1,
                       select4(second, palette.clear, select4(third, palette.color3, palette.clear)));
  return lerpColor(a, b, f);
}

HWY_INLINE V4 premultipliedPaletteColor(V s, const Palette& palette) {
  const V4 q = paletteColor(s, palette);
  return V4{hn::Mul(q.x, q.w), hn::Mul(q.y, q.w), hn::Mul(q.z, q.w), q.w};
}

// values[segment] in each lane. segment is 0 to 3 in every lane whose result is kept.
HWY_INLINE V segmentLookup(const float (&values)[4], hn::Vec<DI> segment) {
#if HWY_TARGET == HWY_SCALAR
  return splat(values[hn::GetLane(segment)]);
#else
  const DF df;
  return hn::TableLookupLanes(hn::LoadDup128(df, values), hn::IndicesFromVec(df, segment));
#endif
}

HWY_INLINE V segmentChannel(const SegmentTerms& terms, int c, hn::Vec<DI> segment, V u, V u2, V u3) {
  const V inner = hn::Mul(segmentLookup(terms.quadratic[c], segment), u2);
  const V linear = hn::Add(hn::Mul(inner, splat(0.5f)), hn::Mul(segmentLookup(terms.linear[c], segment), u));
  const V cubic = hn::Div(hn::Mul(segmentLookup(terms.cubic[c], segment), u3), splat(3.0f));
  return hn::Mul(hn::Add(linear, cubic), splat(0.25f));
}

HWY_INLINE V4 paletteIntegral(V x, const Palette& palette) {
  const DF df;
  const DI di;
  const M negative = hn::Lt(x, hn::Zero(df));
  const V4 below{hn::Mul(splat(palette.negativeR), x), hn::Mul(splat(palette.negativeG), x),
                 hn::Mul(splat(palette.negativeB), x), hn::Mul(splat(palette.negativeA), x)};
  // Inside the flame's core every lane is below 0: the ramp itself is not needed.
  if (hn::AllTrue(df, negative)) {
    return below;
  }
  const M beforeEnd = hn::Lt(x, splat(0.999f));
  V4 ramp = palette.rampEnd;
  if (!hn::AllFalse(df, hn::AndNot(negative, beforeEnd))) {
    const V s = hn::Mul(select(beforeEnd, x, splat(0.999f)), splat(4.0f));
    const hn::Vec<DI> whole = hn::ConvertTo(di, s);
    const V u = hn::Sub(s, hn::ConvertTo(df, whole));
    // Negative s only in lanes that take the x < 0 result below: their index is kept in range.
    const hn::Vec<DI> segment = hn::And(whole, hn::Set(di, 3));
    const V u2 = hn::Mul(u, u);
    const V u3 = hn::Mul(u2, u);
    const SegmentTerms& terms = palette.segments;
    const V alpha = hn::Mul(hn::Add(hn::Mul(hn::Mul(segmentLookup(terms.alphaQuadratic, segment), u2), splat(0.5f)),
                                    hn::Mul(segmentLookup(terms.alphaLinear, segment), u)),
                            splat(0.25f));
    ramp = V4{hn::Add(segmentChannel(terms, 0, segment, u, u2, u3), segmentLookup(terms.base[0], segment)),
              hn::Add(segmentChannel(terms, 1, segment, u, u2, u3), segmentLookup(terms.base[1], segment)),
              hn::Add(segmentChannel(terms, 2, segment, u, u2, u3), segmentLookup(terms.base[2], segment)),
              hn::Add(alpha, segmentLookup(terms.base[3], segment))};
  }
  V tail = hn::Sub(x, splat(0.999f));
  tail = select(hn::Lt(tail, hn::Zero(df)), hn::Zero(df), tail);
  const V4 inside{hn::Add(ramp.x, hn::Mul(splat(palette.tailR), tail)),
                  hn::Add(ramp.y, hn::Mul(splat(palette.tailG), tail)),
                  hn::Add(ramp.z, hn::Mul(splat(palette.tailB), tail)),
                  hn::Add(ramp.w, hn::Mul(tail, splat(palette.tailA)))};
  return select4(negative, below, inside);
}

// ---- March.

// The march takes its samples in batches: first the noise of a batch of steps, then their
// compositing. Neither half waits on the other within a batch, so the processor overlaps
// consecutive samples' work instead of running one long dependency chain per step.
constexpr int kMarchBatch = 8;

struct March {
  V4 accumulator;
  V sPrev;
  V4 fPrev;
};

HWY_INLINE March startMarch(V sStart, bool smooth, const Palette& palette) {
  March state;
  state.accumulator = palette.clear;
  state.sPrev = sStart;
  state.fPrev = smooth ? paletteIntegral(sStart, palette) : palette.clear;
  return state;
}

HWY_INLINE void marchSample(March& state, V s, V densityScale, bool smooth,
                            const Palette& palette) {
  const DF df;
  V4 c;
  if (smooth) {
    const V4 f = paletteIntegral(s, palette);
    const V difference = hn::Sub(s, state.sPrev);
    const M close = hn::Lt(hn::Abs(difference), splat(0.001f));
    V4 quotient = palette.clear;
    if (!hn::AllTrue(df, close)) {
      const V w = hn::Div(splat(1.0f), difference);
      quotient = V4{hn::Mul(hn::Sub(f.x, state.fPrev.x), w), hn::Mul(hn::Sub(f.y, state.fPrev.y), w),
                    hn::Mul(hn::Sub(f.z, state.fPrev.z), w), hn::Mul(hn::Sub(f.w, state.fPrev.w), w)};
    }
    V4 midpoint = palette.clear;
    if (!hn::AllFalse(df, close)) {
      midpoint = premultipliedPaletteColor(hn::Mul(hn::Add(s, state.sPrev), splat(0.5f)), palette);
    }
    c = select4(close, midpoint, quotient);
    state.sPrev = s;
    state.fPrev = f;
  } else {
    c = premultipliedPaletteColor(s, palette);
  }
  c = scale4(c, densityScale);
  if (smooth) {
    const V alpha = select(hn::Gt(c.w, hn::Zero(df)), c.w, hn::Zero(df));
    const M small = hn::Lt(alpha, splat(0.001f));
    const V series = hn::Add(hn::Sub(splat(1.0f), hn::Mul(alpha, splat(0.5f))),
                             hn::Div(hn::Mul(alpha, alpha), splat(6.0f)));
    V exact = series;
    if (!hn::AllTrue(df, small)) {
      exact = hn::Div(hn::Sub(splat(1.0f), kernelExpLanes(hn::Neg(alpha))), alpha);
    }
    c = scale4(c, select(small, series, exact));
  }
  const V transmittance = hn::Sub(splat(1.0f), state.accumulator.w);
  state.accumulator =
      V4{hn::Add(hn::Mul(transmittance, c.x), state.accumulator.x),
         hn::Add(hn::Mul(transmittance, c.y), state.accumulator.y),
         hn::Add(hn::Mul(transmittance, c.z), state.accumulator.z),
         hn::Add(hn::Mul(transmittance, c.w), state.accumulator.w)};
}

HWY_INLINE V adjustChannel(V v, V luma, float tintFactor, const FlameSettings& settings) {
  v = hn::Add(hn::Mul(hn::Sub(v, luma), splat(settings.saturation)), luma);
  v = hn::Add(hn::Mul(hn::Sub(v, splat(0.5f)), splat(settings.contrast)), splat(0.5f));
  v = hn::Add(hn::Sub(v, splat(1.0f)), splat(settings.brightness));
  v = hn::Add(hn::Mul(hn::Sub(hn::Mul(v, splat(tintFactor)), v), splat(settings.tint)), v);
  return clampUnit(v);
}

HWY_INLINE V4 adjustColor(const V4& c, const FlameSettings& settings, bool alphaFromColour) {
  const V luma = hn::Add(hn::Add(hn::Mul(c.x, splat(0.2125f)), hn::Mul(c.y, splat(0.7154f))),
                         hn::Mul(c.z, splat(0.0721f)));
  const V r = adjustChannel(c.x, luma, settings.tintR, settings);
  const V g = adjustChannel(c.y, luma, settings.tintG, settings);
  const V b = adjustChannel(c.z, luma, settings.tintB, settings);
  V a = splat(1.0f);
  if (alphaFromColour) {
    a = select(hn::Gt(r, g), r, g);
    a = select(hn::Gt(a, b), a, b);
  }
  return V4{r, g, b, a};
}

// ---- Pixels.

struct RowContext {
  const FlameSettings& settings;
  const HashCornerOctave* octaves;
  EmitterMatteView matte;
  Palette palette;
  bool smooth;
  // A march may stop once every lane's opacity is exactly 1 (see contributionsStayFinite).
  bool stopWhenOpaque;
};

// Once a lane's opacity is exactly 1, its transmittance 1 - 1 is 0 and every later step adds
// 0 * c: the accumulator keeps its bits (it never holds -0, and x + 0 or x + -0 is x otherwise),
// as long as every later colour c is finite. It is while the settings (and the matte's values,
// checked per vector) stay below 1e4 in magnitude: |s| < 2e5, the palette integral stays below
// 1e14, a step's colour below 1e18 before a density scale below 2e9, and the factor of the
// exponential is at most 1.
bool contributionsStayFinite(const FlameSettings& s) {
  const float limit = 1e4f;
  auto tame = [&](float value) { return std::fabs(value) <= limit; };
  auto tame4 = [&](float4 c) { return tame(c.x) && tame(c.y) && tame(c.z) && tame(c.w); };
  bool integralTame = true;
  for (const float4& base : s.integralBase) {
    integralTame = integralTame && std::fabs(base.x) <= 1e10f && std::fabs(base.y) <= 1e10f &&
                   std::fabs(base.z) <= 1e10f && std::fabs(base.w) <= 1e10f;
  }
  return integralTame && tame(s.radius) && tame(s.amplitude) && tame(s.camera) && tame(s.stepSize) &&
         tame(s.density) && tame4(s.color0) && tame4(s.color1) && tame4(s.color3);
}

// Whether every lane that is kept has an opacity of exactly 1.
HWY_INLINE bool everyLaneOpaque(const March& state, const M& kept) {
  return hn::AllFalse(DF(), hn::AndNot(hn::Eq(state.accumulator.w, splat(1.0f)), kept));
}

// kept: the lanes whose result matters. kPaletteClamps: no smooth sampling (see fbmDistance).
template <bool kPaletteClamps>
HWY_INLINE V volumeDistance(const V3& p, const V3& offset, const RowContext& context,
                            NoiseCells& cells, const M& kept) {
  const FlameSettings& settings = context.settings;
  const V frequency = splat(settings.frequency);
  const V3 n{hn::Add(hn::Mul(p.x, frequency), offset.x), hn::Add(hn::Mul(p.y, frequency), offset.y),
             hn::Add(hn::Mul(p.z, frequency), offset.z)};
  const V length = hn::Sqrt(hn::Add(hn::Add(hn::Mul(p.x, p.x), hn::Mul(p.y, p.y)), hn::Mul(p.z, p.z)));
  const V fromSurface = hn::Sub(length, splat(settings.radius));
  const V amplitude = splat(settings.amplitude);
  PointOctaves<!kPaletteClamps> octaves(n, context.octaves, cells);
  return fbmDistance<kPaletteClamps>(
      octaves, [&](V noise) { return hn::Add(fromSurface, hn::Mul(noise, amplitude)); }, kept);
}

template <bool kSmooth>
V4 shadeVolumeLanes(V column, int y, const M& insideLayer, const RowContext& context) {
  const FlameSettings& s = context.settings;
  const float camera = s.camera;
  const float steps = (float)s.steps;
  V u = hn::Div(hn::Add(hn::Add(column, splat(s.originX)), splat(0.5f)), splat(s.frameWidth));
  u = hn::Sub(hn::Add(u, u), splat(1.0f));
  const V screenX =
      hn::Add(hn::Div(hn::Mul(hn::Mul(u, splat(s.aspect)), splat(5.0f)), splat(s.zoom)), splat(s.centerX));
  float v = (((float)y + s.originY) + 0.5f) / s.frameHeight;
  v = v + v;
  const V screenY = splat(((1.0f - v) * 5.0f) / s.zoom + s.centerY);
  const V length = hn::Sqrt(
      hn::Add(hn::Add(hn::Mul(screenY, screenY), hn::Mul(screenX, screenX)), splat(camera * camera)));
  const V w = hn::Div(splat(1.0f), length);
  const V3 dir{hn::Mul(screenX, w), hn::Mul(screenY, w), hn::Mul(splat(camera), w)};
  const V dt = splat((s.stepSize * 10.0f) / steps);
  const V3 step{hn::Mul(dir.x, dt), hn::Mul(dir.y, dt), hn::Mul(dir.z, dt)};
  const V3 offset{splat(s.time * s.animX), splat(s.time * s.animY), splat(s.time * s.animZ)};
  V3 p{dir.x, dir.y, hn::Sub(dir.z, splat(camera))};
  const V densityScale = splat(((s.density * 15.0f) * s.density) / steps);
  constexpr bool smooth = kSmooth;
  NoiseCells cells = noCells();
  March state = startMarch(
      smooth ? volumeDistance<false>(p, offset, context, cells, insideLayer) : hn::Zero(DF()), smooth,
      context.palette);
  V samples[kMarchBatch];
  for (int i = 0; i < (int)s.steps; i = i + kMarchBatch) {
    if (context.stopWhenOpaque && everyLaneOpaque(state, insideLayer)) {
      break;
    }
    const int count = std::min(kMarchBatch, (int)s.steps - i);
    for (int j = 0; j < count; ++j) {
      const V3 pNext{hn::Add(p.x, step.x), hn::Add(p.y, step.y), hn::Add(p.z, step.z)};
      samples[j] = volumeDistance<!smooth>(smooth ? pNext : p, offset, context, cells, insideLayer);
      p = pNext;
    }
    for (int j = 0; j < count; ++j) {
      marchSample(state, samples[j], densityScale, smooth, context.palette);
    }
  }
  return adjustColor(state.accumulator, s, false);
}

// The matte reads stay scalar: two per pixel, against a few thousand noise lookups.
HWY_INLINE void sampleMatteLanes(V x, float y, const M& wanted, const RowContext& context,
                                 V* value, V* age) {
  const DF df;
  HWY_ALIGN float xs[hn::MaxLanes(df)];
  HWY_ALIGN float values[hn::MaxLanes(df)];
  HWY_ALIGN float ages[hn::MaxLanes(df)];
  HWY_ALIGN float wantedLanes[hn::MaxLanes(df)];
  hn::Store(x, df, xs);
  hn::Store(select(wanted, splat(1.0f), hn::Zero(df)), df, wantedLanes);
  for (size_t lane = 0; lane < hn::Lanes(df); ++lane) {
    MatteCell cell{0.0f, 0.0f};
    if (wantedLanes[lane] != 0.0f) {
      cell = sampleMatte(context.matte, xs[lane], y);
    }
    values[lane] = cell.value;
    ages[lane] = cell.age;
  }
  *value = hn::Load(df, values);
  *age = hn::Load(df, ages);
}

// The palette's clamps are not used to leave octaves out here: in the layer's march most samples
// lie inside the palette, so the checks would cost more than the octaves they save.
HWY_INLINE V layerDistance(float z, float baseZ, LayerColumn& column, V matteValue,
                           const RowContext& context, NoiseCells& cells) {
  const FlameSettings& s = context.settings;
  LayerOctaves octaves{column, (z * s.frequency) * 3.0f + baseZ, context.octaves, cells, {}};
  const V noise = fbmDistance<false>(octaves, [](V value) { return value; }, hn::FirstN(DF(), 0));
  return hn::Add(hn::Add(splat(kernelAbs(z) * 0.6f), hn::Sub(splat(1.25f), hn::Mul(matteValue, splat(1.7f)))),
                 hn::Mul(hn::Mul(hn::Sub(noise, splat(0.45f)), splat(s.amplitude)), splat(0.16f)));
}

template <bool kSmooth>
V4 shadeLayerLanes(V column, int y, const M& insideLayer, const RowContext& context) {
  const DF df;
  const FlameSettings& s = context.settings;
  const float frameWidth = s.frameWidth;
  const float frameHeight = s.frameHeight;
  const float halfWidth = frameWidth * 0.5f - 0.5f;
  const float halfHeight = frameHeight * 0.5f - 0.5f;
  const V mx = hn::Add(splat((frameWidth * s.centerX) / (s.aspect * 10.0f)),
                       hn::Add(hn::Div(hn::Sub(hn::Add(column, splat(s.originX)), splat(halfWidth)),
                                       splat(s.zoom)),
                               splat(halfWidth)));
  const float my = ((((float)y + s.originY) - halfHeight) / s.zoom + halfHeight) -
                   (frameHeight * s.centerY) / 10.0f;
  if (my <= -1.0f || my >= frameHeight) {
    return V4{hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
  }
  const M offMatte = hn::Or(hn::Le(mx, splat(-1.0f)), hn::Ge(mx, splat(frameWidth)));
  const M onMatte = hn::AndNot(offMatte, insideLayer);
  if (hn::AllFalse(df, onMatte)) {
    return V4{hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
  }
  V value0, age0;
  sampleMatteLanes(mx, my, onMatte, context, &value0, &age0);
  // The noise point's y and z are the row's: every lane shares them.
  const float baseY = ((s.riseSpeed - s.animY) * s.time) + (((my + 0.5f) / frameHeight) * 8.0f) * s.frequency;
  const float baseZ = s.time * s.animZ;
  const V3 base{
      hn::Add(hn::Mul(hn::Mul(hn::Mul(hn::Div(hn::Add(mx, splat(0.5f)), splat(frameWidth)), splat(s.aspect)),
                              splat(8.0f)),
                      splat(s.frequency)),
              splat(s.time * s.animX)),
      splat(baseY), splat(baseZ)};
  NoiseCells cells = noCells();
  const V flicker = fbm(base, context.octaves, cells);
  const V ageShare = clampUnit(hn::Div(age0, splat(s.riseHeight)));
  const V mx2 = hn::Add(
      hn::Mul(hn::Mul(hn::Mul(hn::Sub(flicker, splat(0.47f)), splat(s.riseHeight)), splat(0.45f)), ageShare),
      mx);
  V value1, age1;
  sampleMatteLanes(mx2, my, onMatte, context, &value1, &age1);
  const M active = hn::AndNot(hn::Lt(value1, splat(0.001f)), onMatte);
  if (hn::AllFalse(df, active)) {
    return V4{hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
  }
  const float steps = (float)s.steps;
  const V densityScale = splat(((s.density * s.density) * 15.0f) / steps);
  const float dz = 2.0f / steps;
  float z = -1.0f;
  constexpr bool smooth = kSmooth;
  LayerColumn noiseColumn = layerColumn(base.x, baseY);
  March state = startMarch(smooth ? layerDistance(-1.0f, baseZ, noiseColumn, value1, context, cells) : hn::Zero(df),
                           smooth, context.palette);
  const bool stopWhenOpaque =
      context.stopWhenOpaque && hn::AllTrue(df, hn::Le(hn::Abs(value1), splat(1e4f)));
  V samples[kMarchBatch];
  for (int i = 0; i < (int)s.steps; i = i + kMarchBatch) {
    if (stopWhenOpaque && everyLaneOpaque(state, active)) {
      break;
    }
    const int count = std::min(kMarchBatch, (int)s.steps - i);
    for (int j = 0; j < count; ++j) {
      if (smooth) {
        z = z + dz;
        samples[j] = layerDistance(z, baseZ, noiseColumn, value1, context, cells);
      } else {
        samples[j] = layerDistance(z, baseZ, noiseColumn, value1, context, cells);
        z = z + dz;
      }
    }
    for (int j = 0; j < count; ++j) {
      marchSample(state, samples[j], densityScale, smooth, context.palette);
    }
  }
  const V4 q = adjustColor(state.accumulator, s, true);
  const V coverage = clampUnit(hn::Mul(value1, splat(4.0f)));
  const V4 shaded = scale4(q, coverage);
  return V4{hn::IfThenElseZero(active, shaded.x), hn::IfThenElseZero(active, shaded.y),
            hn::IfThenElseZero(active, shaded.z), hn::IfThenElseZero(active, shaded.w)};
}

void shadeRow(const FlameSettings& settings, const HashCornerTable* table, EmitterMatteView matte,
              int row, float4* out) {
  const DF df;
  const DI di;
  const size_t lanes = hn::Lanes(df);
  const RowContext context{settings, table != nullptr ? table->octaves : nullptr, matte,
                           paletteOf(settings), settings.smoothSampling != 0u,
                           contributionsStayFinite(settings)};
  const float ly = (float)row + settings.originY;
  const bool rowInside = !(ly < 0.0f || ly >= settings.frameHeight);
  HWY_ALIGN float pixels[4 * hn::MaxLanes(df)];
  for (size_t first = 0; first < settings.width; first += lanes) {
    const size_t count = std::min<size_t>(lanes, settings.width - first);
    const V column = hn::ConvertTo(df, hn::Iota(di, int32_t(first)));
    const V lx = hn::Add(column, splat(settings.originX));
    const M outside = hn::Or(hn::Lt(lx, hn::Zero(df)), hn::Ge(lx, splat(settings.frameWidth)));
    const M inside = rowInside ? hn::Not(outside) : hn::FirstN(df, 0);
    V4 shaded{hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
    if (!hn::AllFalse(df, inside)) {
      if (settings.emitterMode != 0) {
        shaded = context.smooth ? shadeLayerLanes<true>(column, row, inside, context)
                                : shadeLayerLanes<false>(column, row, inside, context);
      } else {
        shaded = context.smooth ? shadeVolumeLanes<true>(column, row, inside, context)
                                : shadeVolumeLanes<false>(column, row, inside, context);
      }
    }
    hn::StoreInterleaved4(hn::IfThenElseZero(inside, shaded.x), hn::IfThenElseZero(inside, shaded.y),
                          hn::IfThenElseZero(inside, shaded.z), hn::IfThenElseZero(inside, shaded.w),
                          df, pixels);
    std::memcpy(out + first, pixels, count * sizeof(float4));
  }
}

void expLanes(const float* x, float* result, size_t count) {
  const DF df;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    hn::StoreU(kernelExpLanes(hn::LoadU(df, x + i)), df, result + i);
  }
  if (i < count) {
    HWY_ALIGN float rest[hn::MaxLanes(df)] = {};
    std::memcpy(rest, x + i, (count - i) * sizeof(float));
    hn::Store(kernelExpLanes(hn::Load(df, rest)), df, rest);
    std::memcpy(result + i, rest, (count - i) * sizeof(float));
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace simd_row_shading
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace {

using ShadeRowFunction = void (*)(const FlameSettings&, const HashCornerTable*, EmitterMatteView,
                                  int, float4*);

using ExpLanesFunction = void (*)(const float*, float*, size_t);

// The instruction set each path needs, and the code compiled for it (null where this build
// has none).
struct KernelTarget {
  CpuKernel kernel;
  int64_t target;
  ShadeRowFunction shadeRow;
  ExpLanesFunction expLanes;
};

const KernelTarget kKernelTargets[] = {
#if HWY_TARGETS & HWY_AVX3
    {CpuKernel::avx512, HWY_AVX3, &simd_row_shading::N_AVX3::shadeRow, &simd_row_shading::N_AVX3::expLanes},
#endif
#if HWY_TARGETS & HWY_AVX2
    {CpuKernel::avx2, HWY_AVX2, &simd_row_shading::N_AVX2::shadeRow, &simd_row_shading::N_AVX2::expLanes},
#endif
#if HWY_TARGETS & HWY_EMU128
    {CpuKernel::scalar, HWY_EMU128, &simd_row_shading::N_EMU128::shadeRow,
     &simd_row_shading::N_EMU128::expLanes},
#else
    {CpuKernel::scalar, HWY_SCALAR, &simd_row_shading::N_SCALAR::shadeRow,
     &simd_row_shading::N_SCALAR::expLanes},
#endif
};

const KernelTarget* targetOf(CpuKernel kernel) {
  // Asked once: every row looks its path up, and Highway asks the processor each time.
  static const int64_t supported = hwy::SupportedTargets();
  for (const KernelTarget& target : kKernelTargets) {
    if (target.kernel == kernel && (supported & target.target) != 0) {
      return &target;
    }
  }
  return nullptr;
}

}  // namespace

bool cpuSupports(CpuKernel kernel) {
  return kernel == CpuKernel::reference || targetOf(kernel) != nullptr;
}

const char* cpuKernelName(CpuKernel kernel) {
  switch (kernel) {
    case CpuKernel::reference:
      return "reference";
    case CpuKernel::scalar:
      return "scalar";
    case CpuKernel::avx2:
      return "avx2";
    case CpuKernel::avx512:
      return "avx512";
  }
  return "reference";
}

CpuKernel fastestCpuKernel() {
  for (CpuKernel kernel : {CpuKernel::avx512, CpuKernel::avx2}) {
    if (cpuSupports(kernel)) {
      return kernel;
    }
  }
  return CpuKernel::scalar;
}

void shadeRowWithTable(CpuKernel kernel, const FlameSettings& settings,
                       const HashCornerTable* table, EmitterMatteView matte, int row, float4* out) {
  targetOf(kernel)->shadeRow(settings, table, matte, row, out);
}

void kernelExpWith(CpuKernel kernel, const float* x, float* result, size_t count) {
  if (kernel == CpuKernel::reference) {
    for (size_t i = 0; i < count; ++i) {
      result[i] = kernelExp(x[i]);
    }
    return;
  }
  targetOf(kernel)->expLanes(x, result, count);
}

#endif  // HWY_ONCE

// The single-precision exponential of the flame kernels, written out so that every path (scalar,
// SIMD, a GPU with 64-bit floats) computes the same bits, whatever CPU variant the C library picks
// for its own expf. Kernel code: plain scalar arithmetic, no includes, readable by a shader
// compiler as well (hence include guards instead of #pragma once).
//
// Method: e^x = 2^(k/32) * 2^(r/32) with x * 32/ln2 = k + r, k an integer and |r| <= 1/2; the first
// factor from a table and a power of two, the second from a cubic in r, all in double and rounded
// to float once at the end. The table, the cubic and the order of the operations are those of
// glibc's expf (2.28 and later), and the reduction is exact as on a CPU with fused multiply-add:
// the result equals that expf on every non-positive float.
#ifndef VORTELLINE_CPU_KERNEL_EXP_H
#define VORTELLINE_CPU_KERNEL_EXP_H

// 2^(i/32), correctly rounded to double.
static const double kernelExpTable[32] = {
    1.0, 1.0218971486541166, 1.0442737824274138, 1.0671404006768237,
    1.0905077326652577, 1.1143867425958924, 1.1387886347566916, 1.1637248587775775,
    1.189207115002721, 1.215247359980469, 1.241857812073484, 1.2690509571917332,
    1.2968395546510096, 1.3252366431597413, 1.3542555469368927, 1.383909881963832,
    1.4142135623730951, 1.4451808069770467, 1.4768261459394993, 1.5091644275934228,
    1.5422108254079407, 1.5759808451078865, 1.6104903319492543, 1.645755478153965,
    1.681792830507429, 1.718619298122478, 1.7562521603732995, 1.7947090750031072,
    1.8340080864093424, 1.8741676341103, 1.9152065613971474, 1.9571441241754002};

// 32 / ln 2 in double (0x1.71547652b82fep+5), and the same split into a 29-bit high part and the
// rest: a float times the high part is exact in double, and so is a float times the low part.
static const double kernelExpScale = 46.16624130844683;
static const double kernelExpScaleHigh = 46.16624128818512;
static const double kernelExpScaleLow = 2.026170875524258e-08;
// Adding and subtracting 1.5 * 2^52 rounds a double of magnitude below 2^51 to the nearest
// integer, ties to even.
static const double kernelExpRoundingShift = 6755399441055744.0;
// 2^(r/32) ~ ((c3 * r + c2) * r^2) + (c1 * r + 1) for |r| <= 1/2.
static const double kernelExpC3 = 1.6938359250920212e-06;
static const double kernelExpC2 = 0.00023459809789509004;
static const double kernelExpC1 = 0.021660849396613134;

// 2^e for |e| < 256, exactly: a product of powers of two stays exact in double.
KERNEL_FUNC double kernelPowerOfTwo(int e) {
  double base = e < 0 ? 0.5 : 2.0;
  int n = e < 0 ? -e : e;
  double result = 1.0;
  for (int bit = 0; bit < 8; bit = bit + 1) {
    if ((n & 1) != 0) {
      result = result * base;
    }
    base = base * base;
    n = n >> 1;
  }
  return result;
}

KERNEL_FUNC float kernelExp(float x) {
  if (x != x) {
    return x;
  }
  // Below log(2^-150) (-0x1.9fe368p6) every result rounds to zero.
  if (x < -103.97207641601562f) {
    return 0.0f;
  }
  // Above 89 the float result overflows to infinity anyway; the clamp keeps k small.
  double xd = x > 89.0f ? 89.0 : (double)x;
  double kd = (xd * kernelExpScale + kernelExpRoundingShift) - kernelExpRoundingShift;
  // r = x * 32/ln2 - k rounded once: (high part product - k) is exact because it is below 1.
  double r = (xd * kernelExpScaleHigh - kd) + xd * kernelExpScaleLow;
  int k = (int)kd;
  // k & 31 and k >> 5 are the floor remainder and quotient by 32, negative k included.
  double s = kernelExpTable[k & 31] * kernelPowerOfTwo(k >> 5);
  double z = kernelExpC3 * r + kernelExpC2;
  double r2 = r * r;
  double y = kernelExpC1 * r + 1.0;
  y = z * r2 + y;
  return (float)(y * s);
}

#endif

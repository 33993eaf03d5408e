// G.711 mu-law and A-law companding. A 16-bit sample v stands for the
// 14-bit value v/4 of the standard, so the code of every sample is the one
// whose decision interval holds v/4; the coder works on the magnitude, so v
// and -v get codes of the same size.
#include "wavefile.h"

namespace {
const int kUlawBias = 0x84;    // 33 in 14-bit steps
const int kUlawClip = 32635;   // the top decision value, less the bias
}  // namespace

unsigned char linear2ulaw(int sample) {
  if (sample > 32767) sample = 32767;
  if (sample < -32768) sample = -32768;
  int sign = sample < 0 ? 0x80 : 0;
  int mag = sample < 0 ? -sample : sample;
  if (mag > kUlawClip) mag = kUlawClip;
  mag += kUlawBias;
  // The segment is the position of the highest bit above the bias's.
  int seg = 7;
  for (int bit = 0x4000; (mag & bit) == 0 && seg > 0; bit >>= 1) seg--;
  int step = (mag >> (seg + 3)) & 0x0F;
  return (unsigned char)~(sign | (seg << 4) | step);
}

int ulaw2linear(unsigned char code) {
  int u = ~code & 0xFF;
  int t = ((u & 0x0F) << 3) + kUlawBias;
  t <<= (u & 0x70) >> 4;
  return (u & 0x80) ? (kUlawBias - t) : (t - kUlawBias);
}

int alaw2linear(unsigned char code) {
  int a = code ^ 0x55;
  int t = (a & 0x0F) << 4;
  int seg = (a & 0x70) >> 4;
  if (seg == 0) {
    t += 8;
  } else {
    t += 0x108;
    if (seg > 1) t <<= seg - 1;
  }
  return (a & 0x80) ? t : -t;
}

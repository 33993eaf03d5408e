// G.711 mu-law and A-law companding in the 14-bit form; the codes are those
// that sox writes.
#include "wavefile.h"

namespace {
const int kUlawSegEnd[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
const int kUlawBias = 0x84;
const int kUlawClip = 8159;
}  // namespace

unsigned char linear2ulaw(int sample) {
  if (sample > 32767) sample = 32767;
  if (sample < -32768) sample = -32768;
  // To 14 bits rounded (half up), as sox does; the reference coder's plain
  // shift would bias negative values by a quarter step.
  int pcm = (sample + 2) >> 2;
  int mask;
  if (pcm < 0) {
    pcm = -pcm;
    mask = 0x7F;
  } else {
    mask = 0xFF;
  }
  if (pcm > kUlawClip) pcm = kUlawClip;
  pcm += kUlawBias >> 2;
  int seg = 0;
  while (seg < 8 && pcm > kUlawSegEnd[seg]) seg++;
  if (seg >= 8) return (unsigned char)(0x7F ^ mask);
  int uval = (seg << 4) | ((pcm >> (seg + 1)) & 0xF);
  return (unsigned char)(uval ^ mask);
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

#include "util/md5.h"

#include <cstring>

namespace kx {
namespace {

constexpr uint32_t Rotl(uint32_t x, int n) { return x << n | x >> (32 - n); }

// Per-step shift amounts and sine-derived constants (floor(abs(sin(i+1)) * 2^32)).
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

uint32_t LoadLE(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreLE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void TransformBuffer(MD5Context* ctx) {
  uint32_t block[16];
  for (int i = 0; i < 16; ++i) block[i] = LoadLE(ctx->buffer + 4 * i);
  MD5Transform(ctx, block);
}

}  // namespace

void MD5Init(MD5Context* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->count[0] = ctx->count[1] = 0;
  memset(ctx->buffer, 0, sizeof ctx->buffer);
}

void MD5Transform(MD5Context* ctx, const uint32_t block[16]) {
  uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    switch (i / 16) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    uint32_t next = b + Rotl(a + f + kSine[i] + block[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  ctx->state[0] += a;
  ctx->state[1] += b;
  ctx->state[2] += c;
  ctx->state[3] += d;
}

void MD5Update(MD5Context* ctx, const void* bytes, uint32_t length) {
  if (length == 0) return;
  const auto* in = static_cast<const uint8_t*>(bytes);
  uint32_t used = (ctx->count[0] >> 3) & 63;
  uint32_t bitsLow = length << 3;
  ctx->count[0] += bitsLow;
  if (ctx->count[0] < bitsLow) ++ctx->count[1];
  ctx->count[1] += length >> 29;

  uint32_t room = 64 - used;
  if (length < room) {
    memcpy(ctx->buffer + used, in, length);
    return;
  }
  memcpy(ctx->buffer + used, in, room);
  TransformBuffer(ctx);
  uint32_t i = room;
  for (; length - i >= 64; i += 64) {
    memcpy(ctx->buffer, in + i, 64);
    TransformBuffer(ctx);
  }
  memcpy(ctx->buffer, in + i, length - i);
}

void MD5Final(uint8_t digest[16], MD5Context* ctx) {
  uint8_t bits[8];
  StoreLE(bits, ctx->count[0]);
  StoreLE(bits + 4, ctx->count[1]);
  uint32_t used = (ctx->count[0] >> 3) & 63;
  // One 0x80 byte, then zeros up to 56 bytes modulo 64: a message whose last
  // block already holds 56 bytes or more needs a second block.
  uint32_t padLen = used < 56 ? 56 - used : 120 - used;
  static const uint8_t kPadding[64] = {0x80};
  MD5Update(ctx, kPadding, padLen);
  MD5Update(ctx, bits, 8);
  for (int i = 0; i < 4; ++i) StoreLE(digest + 4 * i, ctx->state[i]);
}

}  // namespace kx

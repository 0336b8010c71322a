// MD5 message digest (RFC 1321).
#pragma once

#include <cstdint>

namespace kx {

struct MD5Context {
  uint32_t state[4];   // A, B, C, D
  uint32_t count[2];   // message length in bits: low word, high word
  uint8_t buffer[64];  // input block being filled
};

void MD5Init(MD5Context* ctx);
void MD5Update(MD5Context* ctx, const void* bytes, uint32_t length);
// Pads, runs the last block and writes the 16-byte digest. The context is not cleared.
void MD5Final(uint8_t digest[16], MD5Context* ctx);
void MD5Transform(MD5Context* ctx, const uint32_t block[16]);

}  // namespace kx

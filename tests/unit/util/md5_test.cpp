#include "util/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kx {
namespace {

std::string Hex(const uint8_t d[16]) {
  std::string s;
  char b[3];
  for (int i = 0; i < 16; ++i) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string Digest(const std::string& msg) {
  MD5Context ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, msg.data(), static_cast<uint32_t>(msg.size()));
  uint8_t d[16];
  MD5Final(d, &ctx);
  return Hex(d);
}

struct Vector {
  std::string message;
  const char* digest;
};

TEST(Md5, Rfc1321TestSuite) {
  const Vector cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(Digest(c.message), c.digest) << '"' << c.message << '"';
}

// The padding needs a second block once the last block holds 56 bytes or
// more; the lengths around both block edges catch off-by-one padding.
TEST(Md5, PaddingAroundBlockBoundaries) {
  const std::pair<size_t, const char*> cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
  for (const auto& [len, digest] : cases) EXPECT_EQ(Digest(std::string(len, 'a')), digest) << len;
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdate) {
  std::string msg;
  for (int i = 0; i < 300; ++i) msg += static_cast<char>(i * 7 + 1);
  const std::string whole = Digest(msg);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{63}, size_t{64}, size_t{65}}) {
    MD5Context ctx;
    MD5Init(&ctx);
    for (size_t at = 0; at < msg.size(); at += piece) {
      size_t n = std::min(piece, msg.size() - at);
      MD5Update(&ctx, msg.data() + at, static_cast<uint32_t>(n));
    }
    uint8_t d[16];
    MD5Final(d, &ctx);
    EXPECT_EQ(Hex(d), whole) << "pieces of " << piece;
  }
}

TEST(Md5, MillionAs) {
  MD5Context ctx;
  MD5Init(&ctx);
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) MD5Update(&ctx, chunk.data(), 1000);
  uint8_t d[16];
  MD5Final(d, &ctx);
  EXPECT_EQ(Hex(d), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
}  // namespace kx

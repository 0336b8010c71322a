// The records of the agent contract that carry owned data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "agent/connect.h"
#include "agent/xid.h"

namespace kx {
namespace {

TEST(Contract, ConnectBlockFreeReleasesTheOwnedTexts) {
  ConnectBlock cb{};
  cb.host = strdup("h");
  cb.user = strdup("u");
  cb.password = strdup("p");
  cb.afterTimeout = strdup("t");
  cb.appName = strdup("app");
  cb.readOnly = 1;
  EXPECT_EQ(ConnectBlockFree(&cb), &cb);
  EXPECT_EQ(cb.host, nullptr);
  EXPECT_EQ(cb.password, nullptr);
  EXPECT_EQ(cb.appName, nullptr);
  EXPECT_EQ(cb.readOnly, 1);
}

TEST(Contract, XidCopyBoundsTheData) {
  XID src{};
  src.formatID = 0x1234;
  src.gtrid_length = 3;
  src.bqual_length = 2;
  memcpy(src.data, "gtrbq", 5);
  XID dst;
  memset(&dst, 0x7E, sizeof dst);
  EXPECT_EQ(XidCopy(&dst, &src), 1);
  EXPECT_EQ(dst.formatID, 0x1234);
  EXPECT_EQ(dst.gtrid_length, 3);
  EXPECT_EQ(dst.bqual_length, 2);
  EXPECT_EQ(memcmp(dst.data, "gtrbq", 5), 0);
  EXPECT_EQ(dst.data[5], 0x7E) << "only the identifier's bytes are copied";

  src.gtrid_length = 64;
  src.bqual_length = 64;
  EXPECT_EQ(XidCopy(&dst, &src), 1);
  for (auto [g, b] : {std::pair{100L, 40L}, std::pair{-1L, 5L}, std::pair{5L, -1L}}) {
    src.gtrid_length = g;
    src.bqual_length = b;
    memset(&dst, 0, sizeof dst);
    EXPECT_EQ(XidCopy(&dst, &src), 0) << g << "+" << b;
    EXPECT_EQ(dst.gtrid_length, 0);
  }
}

TEST(Contract, XidEqualComparesOnlyTheIdentifiersBytes) {
  XID a{};
  a.formatID = 7;
  a.gtrid_length = 3;
  a.bqual_length = 2;
  memcpy(a.data, "gtrbq", 5);
  XID b;
  memset(&b, 0x55, sizeof b);  // bytes past the identifier differ
  ASSERT_EQ(XidCopy(&b, &a), 1);
  EXPECT_EQ(XidEqual(&a, &b), 1);
  XID c = b;
  c.data[4] = 'x';
  EXPECT_EQ(XidEqual(&a, &c), 0);
  c = b;
  c.formatID = 8;
  EXPECT_EQ(XidEqual(&a, &c), 0);
  c = b;  // the same bytes cut differently name another branch
  c.gtrid_length = 2;
  c.bqual_length = 3;
  EXPECT_EQ(XidEqual(&a, &c), 0);
  EXPECT_EQ(XidEqual(&a, nullptr), 0);
  EXPECT_EQ(XidEqual(nullptr, &a), 0);
  c = a;
  c.gtrid_length = 200;
  EXPECT_EQ(XidEqual(&c, &c), 0);
}

}  // namespace
}  // namespace kx

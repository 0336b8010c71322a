// The XA switch without a database: the layout a monitor's xa.h expects, the
// switch's contents, the return-code names, the open string's "DSN=", and
// what every entry point answers on a thread that holds no resource manager.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/xid.h"
#include "xa/xa_switch.h"

namespace {

using namespace kx;

TEST(XaSwitch, LayoutIsTheLp64OneOfXaH) {
  EXPECT_EQ(128u, sizeof(xa_switch_t));
  EXPECT_EQ(0u, offsetof(xa_switch_t, name));
  EXPECT_EQ(32u, offsetof(xa_switch_t, flags));
  EXPECT_EQ(40u, offsetof(xa_switch_t, version));
  const size_t entries[] = {
      offsetof(xa_switch_t, xa_open_entry),     offsetof(xa_switch_t, xa_close_entry),
      offsetof(xa_switch_t, xa_start_entry),    offsetof(xa_switch_t, xa_end_entry),
      offsetof(xa_switch_t, xa_rollback_entry), offsetof(xa_switch_t, xa_prepare_entry),
      offsetof(xa_switch_t, xa_commit_entry),   offsetof(xa_switch_t, xa_recover_entry),
      offsetof(xa_switch_t, xa_forget_entry),   offsetof(xa_switch_t, xa_complete_entry)};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(48 + 8 * i, entries[i]) << "entry " << i;

  EXPECT_EQ(152u, sizeof(XID));
  EXPECT_EQ(0u, offsetof(XID, formatID));
  EXPECT_EQ(8u, offsetof(XID, gtrid_length));
  EXPECT_EQ(16u, offsetof(XID, bqual_length));
  EXPECT_EQ(24u, offsetof(XID, data));
}

TEST(XaSwitch, TheExportedSwitchNamesTheResourceManagerAndAllTenEntries) {
  xa_switch_t* sw = znt_xa_switch();
  ASSERT_NE(nullptr, sw);
  EXPECT_EQ(sw, znt_xa_switch());
  EXPECT_STREQ("QUILLMAR", sw->name);
  for (size_t i = std::strlen(sw->name); i < RMNAMESZ; ++i) EXPECT_EQ('\0', sw->name[i]);
  EXPECT_EQ(0, sw->flags);
  EXPECT_EQ(0, sw->version);
  const void* entries[] = {
      reinterpret_cast<void*>(sw->xa_open_entry),     reinterpret_cast<void*>(sw->xa_close_entry),
      reinterpret_cast<void*>(sw->xa_start_entry),    reinterpret_cast<void*>(sw->xa_end_entry),
      reinterpret_cast<void*>(sw->xa_rollback_entry), reinterpret_cast<void*>(sw->xa_prepare_entry),
      reinterpret_cast<void*>(sw->xa_commit_entry),   reinterpret_cast<void*>(sw->xa_recover_entry),
      reinterpret_cast<void*>(sw->xa_forget_entry),   reinterpret_cast<void*>(sw->xa_complete_entry)};
  for (const void* e : entries) EXPECT_NE(nullptr, e);
}

TEST(XaSwitch, ReturnCodeNames) {
  const struct {
    int code;
    const char* name;
  } cases[] = {{0, "XA_OK"},          {3, "XA_RDONLY"},       {4, "XA_RETRY"},
               {100, "XA_RBROLLBACK"}, {104, "Unknown"},       {107, "XA_RBTRANSIENT"},
               {-1, "Unknown"},       {-2, "XAER_ASYNC"},     {-3, "XAER_RMERR"},
               {-6, "XAER_PROTO"},    {-9, "XAER_OUTSIDE"},   {-10, "Unknown"}};
  for (const auto& c : cases) EXPECT_STREQ(c.name, XaRetName(c.code)) << c.code;
}

TEST(XaSwitch, TheDataSourceOfAnOpenString) {
  const struct {
    const char* info;
    bool found;
    const char* dsn;
  } cases[] = {
      {"DSN=sales;UID=alice;PWD={a;b}", true, "sales"},
      {"UID=alice;DSN=sales  ;PWD=x", true, "sales"},  // trailing blanks cut
      {"URL={URL=jdbc:h2:mem:x};DSN=orders", true, "orders"},
      {"DSN=", true, ""},
      {"dsn=sales", false, ""},  // the key is case-sensitive
      {"UID=alice;PWD=x", false, ""},
  };
  for (const auto& c : cases) {
    char out[256] = "?";
    EXPECT_EQ(c.found, XaInfoGetDsn(c.info, out, sizeof out)) << c.info;
    if (c.found) {
      EXPECT_STREQ(c.dsn, out) << c.info;
    }
  }
  // A name the buffer cannot hold is refused, never cut to another name.
  char small[6];
  EXPECT_FALSE(XaInfoGetDsn("DSN=toolong;", small, sizeof small));
  EXPECT_TRUE(XaInfoGetDsn("DSN=short;", small, sizeof small));
  EXPECT_STREQ("short", small);
}

// Without a resource manager on the thread every entry point answers
// XAER_RMERR, a NULL handle to complete XAER_INVAL, and the two handle
// exports give nothing.
TEST(XaSwitch, AThreadWithoutAResourceManager) {
  xa_switch_t* sw = znt_xa_switch();
  XID xid{};
  xid.formatID = 1;
  xid.gtrid_length = 1;
  xid.bqual_length = 1;
  EXPECT_EQ(XAER_RMERR, sw->xa_start_entry(&xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_end_entry(&xid, 1, TMSUCCESS));
  EXPECT_EQ(XAER_RMERR, sw->xa_prepare_entry(&xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_commit_entry(&xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_rollback_entry(&xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_forget_entry(&xid, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_recover_entry(&xid, 1, 1, TMSTARTRSCAN));
  int handle = 0, result = 0;
  EXPECT_EQ(XAER_RMERR, sw->xa_complete_entry(&handle, &result, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, sw->xa_complete_entry(nullptr, &result, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_INVAL, sw->xa_complete_entry(&handle, nullptr, 1, TMNOFLAGS));

  char noDsn[] = "UID=alice;PWD=x";
  EXPECT_EQ(XAER_RMERR, sw->xa_open_entry(noDsn, 1, TMNOFLAGS));
  EXPECT_EQ(XAER_RMERR, sw->xa_close_entry(noDsn, 1, TMNOFLAGS));
  char info[] = "DSN=nowhere";
  EXPECT_EQ(XAER_RMERR, sw->xa_close_entry(info, 1, TMNOFLAGS));
  EXPECT_EQ(0, XaAssoc_CountOnThread());

  EXPECT_EQ(SQL_ERROR, SQLGetXaConnect(nullptr));
  EXPECT_EQ(SQL_ERROR, SQLGetXaEnv(nullptr));
  SQLHDBC dbc = reinterpret_cast<SQLHDBC>(1);
  SQLHENV env = reinterpret_cast<SQLHENV>(1);
  EXPECT_EQ(SQL_ERROR, SQLGetXaConnect(&dbc));
  EXPECT_EQ(SQL_ERROR, SQLGetXaEnv(&env));
  EXPECT_EQ(nullptr, dbc);
  EXPECT_EQ(nullptr, env);
}

}  // namespace

namespace {

// The data source's "XaInfo" as odbc.ini holds it, read through the
// installer library from a private configuration.
TEST(XaSwitch, TheDataSourcesXaInfoFromOdbcIni) {
  char dir[] = "/tmp/kx_xainfo_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string ini = std::string(dir) + "/odbc.ini";
  const std::string inst = std::string(dir) + "/odbcinst.ini";
  const std::string longValue(300, 'x');
  {
    FILE* f = std::fopen(ini.c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fprintf(f, "[with]\nDriver=none\nXaInfo=rm=sales;timeout=30\n\n[without]\nDriver=none\n\n"
                    "[long]\nDriver=none\nXaInfo=%s\n", longValue.c_str());
    std::fclose(f);
    f = std::fopen(inst.c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fclose(f);
  }
  setenv("ODBCSYSINI", dir, 1);
  setenv("ODBCINI", ini.c_str(), 1);
  char out[256];
  EXPECT_TRUE(XaGetDsnXaInfo("with", out, sizeof out));
  EXPECT_STREQ("rm=sales;timeout=30", out);
  EXPECT_TRUE(XaGetDsnXaInfo("without", out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_FALSE(XaGetDsnXaInfo("long", out, sizeof out));  // never cut
  std::remove(ini.c_str());
  std::remove(inst.c_str());
  rmdir(dir);
}

}  // namespace

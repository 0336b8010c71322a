// Application-allocated descriptors shared by statements, the writes that
// reach the statements' bindings, SQLCopyDesc, and the guarantee that no
// buffer the application took back is written afterwards.
#include <cstring>
#include <string>

#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

constexpr unsigned char kCanary = 0xC3;
constexpr unsigned char kRow = 0x5A;

class DescUserTest : public StmtTest {
 public:
  static SQLRETURN Set(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, const void* value) {
    return SQLSetDescField(d, rec, field, const_cast<void*>(value), 0);
  }
  static SQLRETURN SetInt(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, intptr_t value) {
    return SQLSetDescField(d, rec, field, reinterpret_cast<SQLPOINTER>(value), 0);
  }

 protected:

  // A user descriptor with column 1 typed as a 4-byte integer at buffer.
  SQLHDESC UserArd(void* buffer, SQLLEN* ind) {
    SQLHDESC d = NewDesc();
    EXPECT_EQ(SetInt(d, 1, SQL_DESC_TYPE, SQL_C_LONG), SQL_SUCCESS);
    EXPECT_EQ(SetInt(d, 1, SQL_DESC_OCTET_LENGTH, 4), SQL_SUCCESS);
    EXPECT_EQ(Set(d, 1, SQL_DESC_INDICATOR_PTR, ind), SQL_SUCCESS);
    EXPECT_EQ(Set(d, 1, SQL_DESC_OCTET_LENGTH_PTR, ind), SQL_SUCCESS);
    EXPECT_EQ(Set(d, 1, SQL_DESC_DATA_PTR, buffer), SQL_SUCCESS);
    return d;
  }
};

struct Canary {
  unsigned char bytes[16];
  SQLLEN ind;
  Canary() {
    std::memset(bytes, kCanary, sizeof bytes);
    ind = 0x0BADBEEF;
  }
  bool Untouched() const {
    for (unsigned char b : bytes) {
      if (b != kCanary) return false;
    }
    return ind == 0x0BADBEEF;
  }
};

TEST_F(DescUserTest, OneWriteBindsTheColumnOnEveryStatementUsingTheDescriptor) {
  SQLHSTMT other = NewStmt();
  SQLHDESC d = NewDesc();
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SetInt(d, 2, SQL_DESC_TYPE, SQL_C_LONG), SQL_SUCCESS);
  ASSERT_EQ(SetInt(d, 2, SQL_DESC_OCTET_LENGTH, 4), SQL_SUCCESS);
  ASSERT_EQ(Set(d, 2, SQL_DESC_INDICATOR_PTR, &ind), SQL_SUCCESS);
  EXPECT_EQ(StmtGetColBinding(2, Rec(stmt_)), nullptr) << "no data pointer yet";
  ASSERT_EQ(Set(d, 2, SQL_DESC_DATA_PTR, &value), SQL_SUCCESS);
  for (SQLHSTMT s : {stmt_, other}) {
    ColBinding* b = StmtGetColBinding(2, Rec(s));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->target, &value);
    EXPECT_EQ(b->cType, SQL_C_LONG);
    EXPECT_EQ(b->bufferLength, 4);
    EXPECT_EQ(b->indicator, &ind);
  }
}

TEST_F(DescUserTest, InstallingADescriptorAppliesItsRecords) {
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  SQLHDESC d = UserArd(&value, &ind);
  SQLUSMALLINT ops[5];
  ASSERT_EQ(Set(d, 0, SQL_DESC_ARRAY_STATUS_PTR, ops), SQL_SUCCESS);
  ASSERT_EQ(SetInt(d, 0, SQL_DESC_BIND_TYPE, 32), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ColBinding* b = StmtGetColBinding(1, Rec(stmt_));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->target, &value);
  EXPECT_EQ(Rec(stmt_)->bindType, 32);
  SQLPOINTER back = nullptr;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, &back, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(back, ops);
}

// Bindings made through the implicit ARD go when a user ARD is installed, and
// the user ARD's go when it is freed: nothing writes into either afterwards.
TEST_F(DescUserTest, SwitchingAndFreeingDescriptorsStopsWritesIntoTheirBuffers) {
  SQLHSTMT other = NewStmt();
  Canary implicitBuf;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_BINARY, implicitBuf.bytes, sizeof implicitBuf.bytes,
                       &implicitBuf.ind),
            SQL_SUCCESS);
  Canary userBuf;
  SQLHDESC d = UserArd(userBuf.bytes, &userBuf.ind);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  // The implicit ARD's binding is gone while the user ARD is current.
  WriteRowIntoBindings(stmt_, kRow);
  EXPECT_TRUE(implicitBuf.Untouched());
  EXPECT_EQ(userBuf.bytes[0], kRow);
  userBuf = Canary();

  ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, d), SQL_SUCCESS);
  descs_.clear();
  WriteRowIntoBindings(stmt_, kRow);
  WriteRowIntoBindings(other, kRow);
  EXPECT_TRUE(userBuf.Untouched()) << "a freed descriptor's buffer was written";
  // Each statement is back on its own ARD, whose bindings apply again.
  EXPECT_EQ(Rec(stmt_)->currentArd, Rec(stmt_)->implicitArd);
  EXPECT_EQ(Rec(other)->currentArd, Rec(other)->implicitArd);
  EXPECT_EQ(implicitBuf.bytes[0], kRow);
  EXPECT_EQ(Rec(other)->colBindings, nullptr);
}

// A NULL data pointer, a COUNT of 0 and SQL_UNBIND all unbind.
TEST_F(DescUserTest, UnbindingStopsWrites) {
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  struct Case {
    const char* how;
    void (*unbind)(SQLHSTMT s, SQLHDESC ard);
  } cases[] = {
      {"DATA_PTR NULL",
       [](SQLHSTMT, SQLHDESC a) {
         EXPECT_EQ(Set(a, 1, SQL_DESC_DATA_PTR, nullptr), SQL_SUCCESS);
         EXPECT_EQ(Set(a, 2, SQL_DESC_DATA_PTR, nullptr), SQL_SUCCESS);
       }},
      {"COUNT 0", [](SQLHSTMT, SQLHDESC a) {
         EXPECT_EQ(SetInt(a, 0, SQL_DESC_COUNT, 0), SQL_SUCCESS);
       }},
      {"COUNT 1 drops column 2, CONCISE_TYPE unbinds column 1",
       [](SQLHSTMT, SQLHDESC a) {
         EXPECT_EQ(SetInt(a, 0, SQL_DESC_COUNT, 1), SQL_SUCCESS);
         EXPECT_EQ(SetInt(a, 1, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP), SQL_SUCCESS);
       }},
      {"SQL_UNBIND", [](SQLHSTMT s, SQLHDESC) {
         EXPECT_EQ(SQLFreeStmt(s, SQL_UNBIND), SQL_SUCCESS);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Canary one, two;
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_BINARY, one.bytes, sizeof one.bytes, &one.ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_BINARY, two.bytes, sizeof two.bytes, &two.ind), SQL_SUCCESS);
    c.unbind(stmt_, ard);
    WriteRowIntoBindings(stmt_, kRow);
    EXPECT_TRUE(one.Untouched());
    EXPECT_TRUE(two.Untouched());
  }
  // The unbinding write of CONCISE_TYPE set the record's companion fields.
  SQLSMALLINT type = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_BINARY, nullptr, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SetInt(ard, 1, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP), SQL_SUCCESS);
  EXPECT_EQ(SQLGetDescField(ard, 1, SQL_DESC_TYPE, &type, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_DATETIME);
}

// SQL_UNBIND on a statement whose ARD is shared empties it for every user.
TEST_F(DescUserTest, UnbindThroughOneStatementUnbindsTheSharedDescriptorEverywhere) {
  SQLHSTMT other = NewStmt();
  Canary buf;
  SQLHDESC d = UserArd(buf.bytes, &buf.ind);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  WriteRowIntoBindings(other, kRow);
  EXPECT_TRUE(buf.Untouched());
}

// Freeing a statement leaves a user descriptor it used valid and bound for
// the other statements.
TEST_F(DescUserTest, FreeingAStatementKeepsTheSharedDescriptor) {
  SQLHSTMT other = NewStmt();
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  SQLHDESC d = UserArd(&value, &ind);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, d, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt_), SQL_SUCCESS);
  stmt_ = SQL_NULL_HSTMT;
  SQLSMALLINT count = 0;
  EXPECT_EQ(SQLGetDescField(d, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  EXPECT_NE(StmtGetColBinding(1, Rec(other)), nullptr);
}

TEST_F(DescUserTest, ImplicitDescriptorsCannotBeFreed) {
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, ard), SQL_ERROR);
  EXPECT_EQ(DescState(ard), "HY017");
  EXPECT_EQ(StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC), ard);
}

TEST_F(DescUserTest, DataPointerWriteOnTheImplicitArdBindsTheColumn) {
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  SQLINTEGER value = 0;
  SQLLEN ind = 0;
  ASSERT_EQ(SetInt(ard, 2, SQL_DESC_TYPE, SQL_C_LONG), SQL_SUCCESS);
  EXPECT_EQ(DescRec(ard)->count, 2) << "the first write grows the ARD";
  ASSERT_EQ(SetInt(ard, 2, SQL_DESC_OCTET_LENGTH, 4), SQL_SUCCESS);
  ASSERT_EQ(Set(ard, 2, SQL_DESC_INDICATOR_PTR, &ind), SQL_SUCCESS);
  ASSERT_EQ(Set(ard, 2, SQL_DESC_DATA_PTR, &value), SQL_SUCCESS);
  ColBinding* b = StmtGetColBinding(2, Rec(stmt_));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->cType, SQL_C_LONG);
  EXPECT_EQ(b->bufferLength, 4);
  EXPECT_EQ(b->indicator, &ind);
  // The bookmark record binds only as a bookmark type.
  TestAgent_SetProperty(AP_CONN_GETINFO_INT + SQL_BOOKMARK_PERSISTENCE, SQL_BP_SCROLL);
  SQLLEN bookmark = 0;
  EXPECT_EQ(Set(ard, 0, SQL_DESC_DATA_PTR, &bookmark), SQL_ERROR);
  ASSERT_EQ(SetInt(ard, 0, SQL_DESC_CONCISE_TYPE, SQL_C_BINARY), SQL_SUCCESS);
  EXPECT_EQ(Set(ard, 0, SQL_DESC_DATA_PTR, &bookmark), SQL_SUCCESS);
  EXPECT_NE(StmtGetColBinding(0, Rec(stmt_)), nullptr);
}

// Parameter binding lives with execution; APD writes reach it through its
// seam with the column size and digits of the IPD record.
TEST_F(DescUserTest, DataPointerWriteOnTheApdBindsTheParameter) {
  SQLHDESC apd = StmtDesc(stmt_, SQL_ATTR_APP_PARAM_DESC);
  SQLHDESC ipd = StmtDesc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
  ASSERT_EQ(SetInt(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_DECIMAL), SQL_SUCCESS);
  ASSERT_EQ(SetInt(ipd, 1, SQL_DESC_PRECISION, 12), SQL_SUCCESS);
  ASSERT_EQ(SetInt(ipd, 1, SQL_DESC_SCALE, 3), SQL_SUCCESS);
  ASSERT_EQ(SetInt(apd, 1, SQL_DESC_CONCISE_TYPE, SQL_C_CHAR), SQL_SUCCESS);
  char text[16] = "1.5";
  ASSERT_EQ(StmtGetParamBinding(1, Rec(stmt_)), nullptr);
  ASSERT_EQ(Set(apd, 1, SQL_DESC_DATA_PTR, text), SQL_SUCCESS);
  const ParamBinding* bound = StmtGetParamBinding(1, Rec(stmt_));
  ASSERT_NE(bound, nullptr);
  EXPECT_EQ(bound->number, 1);
  EXPECT_EQ(bound->cType, SQL_C_CHAR);
  EXPECT_EQ(bound->sqlType, SQL_DECIMAL);
  EXPECT_EQ(bound->columnSize, 12u);
  EXPECT_EQ(bound->decimalDigits, 3);
  EXPECT_EQ(bound->value, text);
}

// ---- SQLCopyDesc ---------------------------------------------------------------

TEST_F(DescUserTest, CopyArdToApdTakesPointersButNoName) {
  SQLINTEGER v1 = 0, v2 = 0;
  SQLLEN i1 = 0, i2 = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &v1, 0, &i1), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_LONG, &v2, 0, &i2), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(7), 0),
            SQL_SUCCESS);
  SQLHDESC ard = StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
  SQLHDESC target = NewDesc();
  ASSERT_EQ(SQLCopyDesc(ard, target), SQL_SUCCESS);
  DescRecord* t = DescRec(target);
  EXPECT_EQ(t->count, 2);
  EXPECT_EQ(t->arraySize, 7u);
  ASSERT_NE(DescGetRec(t, 2), nullptr);
  EXPECT_EQ(DescGetRec(t, 2)->dataPtr, &v2);
  EXPECT_EQ(DescGetRec(t, 2)->indicatorPtr, &i2);
  EXPECT_EQ(DescGetRec(t, 2)->conciseType, SQL_C_LONG);
  EXPECT_EQ(DescGetRec(t, 2)->name, nullptr);
}

TEST_F(DescUserTest, CopyIpdToIpdTakesNamesAndParameterTypes) {
  SQLHSTMT other = NewStmt();
  SQLHDESC src = StmtDesc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
  SQLHDESC dst = StmtDesc(other, SQL_ATTR_IMP_PARAM_DESC);
  char name[] = "@amount";
  ASSERT_EQ(SQLSetDescField(src, 1, SQL_DESC_NAME, name, SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(src, 1, SQL_DESC_PARAMETER_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_OUTPUT),
                            0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(src, 1, SQL_DESC_CONCISE_TYPE, reinterpret_cast<SQLPOINTER>(SQL_DECIMAL), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(src, dst), SQL_SUCCESS);
  char back[16] = {};
  ASSERT_EQ(SQLGetDescField(dst, 1, SQL_DESC_NAME, back, sizeof back, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(back, "@amount");
  SQLSMALLINT v = 0;
  EXPECT_EQ(SQLGetDescField(dst, 1, SQL_DESC_PARAMETER_TYPE, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_PARAM_OUTPUT);
  EXPECT_EQ(SQLGetDescField(dst, 1, SQL_DESC_CONCISE_TYPE, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_DECIMAL);
  EXPECT_EQ(SQLGetDescField(dst, 1, SQL_DESC_PRECISION, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, 38);
}

// The target gets as many records as the source holds, also fewer.
TEST_F(DescUserTest, CopyTakesTheSourceCount) {
  SQLHDESC src = NewDesc();
  SQLHDESC dst = NewDesc();
  ASSERT_EQ(SetInt(src, 0, SQL_DESC_COUNT, 2), SQL_SUCCESS);
  ASSERT_EQ(SetInt(dst, 0, SQL_DESC_COUNT, 5), SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(src, dst), SQL_SUCCESS);
  EXPECT_EQ(DescRec(dst)->count, 2);
  ASSERT_EQ(SetInt(src, 0, SQL_DESC_COUNT, 4), SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(src, dst), SQL_SUCCESS);
  EXPECT_EQ(DescRec(dst)->count, 4);
  // The largest count a SQLSMALLINT holds: every record is copied and the
  // copy ends.
  ASSERT_EQ(SetInt(src, 0, SQL_DESC_COUNT, INT16_MAX), SQL_SUCCESS);
  ASSERT_EQ(SetInt(src, INT16_MAX, SQL_DESC_CONCISE_TYPE, SQL_C_DOUBLE), SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(src, dst), SQL_SUCCESS);
  EXPECT_EQ(DescRec(dst)->count, INT16_MAX);
  ASSERT_NE(DescGetRec(DescRec(dst), INT16_MAX), nullptr);
  EXPECT_EQ(DescGetRec(DescRec(dst), INT16_MAX)->conciseType, SQL_C_DOUBLE);
}

// Records reached by number stay right while the count shrinks and grows:
// a removed record is never handed out again, a new one starts fresh.
TEST_F(DescUserTest, RecordsByNumberFollowTheCount) {
  SQLHDESC h = NewDesc();
  ASSERT_EQ(SetInt(h, 0, SQL_DESC_COUNT, 5), SQL_SUCCESS);
  ASSERT_EQ(SetInt(h, 5, SQL_DESC_CONCISE_TYPE, SQL_C_DOUBLE), SQL_SUCCESS);
  ASSERT_EQ(SetInt(h, 2, SQL_DESC_CONCISE_TYPE, SQL_C_LONG), SQL_SUCCESS);
  DescRecord* d = DescRec(h);
  ASSERT_NE(DescGetRec(d, 5), nullptr);
  ASSERT_EQ(SetInt(h, 0, SQL_DESC_COUNT, 3), SQL_SUCCESS);
  EXPECT_EQ(DescGetRec(d, 4), nullptr);
  EXPECT_EQ(DescGetRec(d, 5), nullptr);
  ASSERT_EQ(SetInt(h, 0, SQL_DESC_COUNT, 6), SQL_SUCCESS);
  ASSERT_NE(DescGetRec(d, 5), nullptr);
  EXPECT_NE(DescGetRec(d, 5)->conciseType, SQL_C_DOUBLE);
  ASSERT_NE(DescGetRec(d, 2), nullptr);
  EXPECT_EQ(DescGetRec(d, 2)->conciseType, SQL_C_LONG);
  EXPECT_NE(DescGetRec(d, 6), nullptr);
  EXPECT_EQ(DescGetRec(d, 7), nullptr);
}

// A name too long for the copy is cut with 01004; the records after it are
// still copied.
TEST_F(DescUserTest, CopyGoesOnAfterACutName) {
  SQLHDESC src = StmtDesc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
  SQLHDESC dst = StmtDesc(NewStmt(), SQL_ATTR_IMP_PARAM_DESC);
  std::string longName(300, 'n');
  ASSERT_EQ(SQLSetDescField(src, 1, SQL_DESC_NAME, longName.data(), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SetInt(src, 2, SQL_DESC_CONCISE_TYPE, SQL_DECIMAL), SQL_SUCCESS);
  EXPECT_EQ(SQLCopyDesc(src, dst), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DescState(dst), "01004");
  DescRecord* t = DescRec(dst);
  ASSERT_EQ(t->count, 2);
  EXPECT_EQ(std::strlen(DescGetRec(t, 1)->name), 254u);
  EXPECT_EQ(DescGetRec(t, 2)->conciseType, SQL_DECIMAL);
}

TEST_F(DescUserTest, CopyRefusals) {
  SQLHDESC ird = StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
  SQLHDESC user = NewDesc();
  // From the IRD of a statement that was never prepared.
  EXPECT_EQ(SQLCopyDesc(ird, user), SQL_ERROR);
  EXPECT_EQ(DescState(user), "HY010");
  // Onto an IRD.
  EXPECT_EQ(SQLCopyDesc(user, ird), SQL_ERROR);
  EXPECT_EQ(DescState(ird), "HY016");
  // Onto something that is no descriptor.
  EXPECT_EQ(SQLCopyDesc(user, stmt_), SQL_INVALID_HANDLE);
}

TEST_F(DescUserTest, CopyFromAPreparedRowDescriptor) {
  OpenResult(stmt_, "ID:4,NAME:12");
  SQLHDESC ird = StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
  SQLHDESC ipd = StmtDesc(NewStmt(), SQL_ATTR_IMP_PARAM_DESC);
  ASSERT_EQ(SQLCopyDesc(ird, ipd), SQL_SUCCESS);
  DescRecord* t = DescRec(ipd);
  ASSERT_EQ(t->count, 2);
  EXPECT_STREQ(DescGetRec(t, 2)->name, "NAME");
  EXPECT_EQ(DescGetRec(t, 2)->conciseType, SQL_VARCHAR);
  EXPECT_EQ(DescGetRec(t, 2)->length, 254u);
}

}  // namespace
}  // namespace kx::testing

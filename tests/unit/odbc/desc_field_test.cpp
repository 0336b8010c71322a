// The descriptor field engine: reads and writes over the five kinds of
// descriptor, the record calls, and the text forms of both builds.
#include <cstring>
#include <string>

#include "agent/build_flavor.h"
#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

enum Kind { USER, ARD, APD, IRD, IPD };

const char* KindName(Kind k) {
  static const char* names[] = {"USER", "ARD", "APD", "IRD", "IPD"};
  return names[k];
}

class DescFieldTest : public StmtTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    SetUnicodeBuild(wide());
    user_ = NewDesc();
  }

  bool wide() const { return GetParam(); }

  SQLHDESC Desc(Kind k) {
    switch (k) {
      case USER: return user_;
      case ARD: return StmtDesc(stmt_, SQL_ATTR_APP_ROW_DESC);
      case APD: return StmtDesc(stmt_, SQL_ATTR_APP_PARAM_DESC);
      case IRD: return StmtDesc(stmt_, SQL_ATTR_IMP_ROW_DESC);
      default: return StmtDesc(stmt_, SQL_ATTR_IMP_PARAM_DESC);
    }
  }

  // Reads an integer field into a canary-filled 8-byte variable; the value
  // is sign-extended by the length the call reports.
  SQLRETURN ReadInt(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, int64_t* value, SQLINTEGER* len) {
    unsigned char buffer[8];
    std::memset(buffer, 0xA5, sizeof buffer);
    *len = -1;
    SQLRETURN rc = SQLGetDescField(d, rec, field, buffer, 0, len);
    if (*len == 2) {
      int16_t v;
      std::memcpy(&v, buffer, 2);
      *value = v;
    } else if (*len == 4) {
      int32_t v;
      std::memcpy(&v, buffer, 4);
      *value = v;
    } else {
      std::memcpy(value, buffer, 8);
    }
    return rc;
  }

  // A text field in the build's own form, as UTF-8.
  SQLRETURN ReadText(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, std::string* out,
                     SQLINTEGER bytes = 256, SQLINTEGER* len = nullptr) {
    SQLINTEGER scratch = 0;
    if (len == nullptr) len = &scratch;
    if (!wide()) {
      char buffer[256] = {};
      SQLRETURN rc = SQLGetDescField(d, rec, field, buffer, bytes, len);
      *out = buffer;
      return rc;
    }
    SQLWCHAR buffer[128] = {};
    SQLRETURN rc = SQLGetDescFieldW(d, rec, field, buffer, bytes, len);
    out->clear();
    for (int i = 0; i < 128 && buffer[i] != 0; ++i) out->push_back(static_cast<char>(buffer[i]));
    return rc;
  }

  SQLRETURN Set(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT field, intptr_t value) {
    SQLPOINTER v = reinterpret_cast<SQLPOINTER>(value);
    return wide() ? SQLSetDescFieldW(d, rec, field, v, 0) : SQLSetDescField(d, rec, field, v, 0);
  }

  SQLHDESC user_ = SQL_NULL_HDESC;
};

// ---- reads ---------------------------------------------------------------------

struct ReadCase {
  Kind kind;
  SQLSMALLINT rec;
  SQLSMALLINT field;
  SQLRETURN rc;
  int64_t value;      // when rc succeeds
  SQLINTEGER width;   // bytes written, 0 = not checked
  const char* state;  // when rc fails
};

TEST_P(DescFieldTest, ReadsByKindAndField) {
  OpenResult(stmt_, "ID:4,NAME:12,AMOUNT:3");
  ASSERT_EQ(Set(user_, 0, SQL_DESC_COUNT, 1), SQL_SUCCESS);
  ASSERT_EQ(Set(Desc(IPD), 0, SQL_DESC_COUNT, 1), SQL_SUCCESS);
  const ReadCase cases[] = {
      // Header fields.
      {USER, 0, SQL_DESC_COUNT, SQL_SUCCESS, 1, 2, nullptr},
      {USER, 0, SQL_DESC_ALLOC_TYPE, SQL_SUCCESS, SQL_DESC_ALLOC_USER, 2, nullptr},
      {ARD, 0, SQL_DESC_ALLOC_TYPE, SQL_SUCCESS, SQL_DESC_ALLOC_AUTO, 2, nullptr},
      {USER, 0, SQL_DESC_ARRAY_SIZE, SQL_SUCCESS, 1, 8, nullptr},
      {ARD, 0, SQL_DESC_ARRAY_SIZE, SQL_SUCCESS, 1, 8, nullptr},
      {APD, 0, SQL_DESC_ARRAY_SIZE, SQL_SUCCESS, 1, 8, nullptr},
      {IRD, 0, SQL_DESC_ARRAY_SIZE, SQL_ERROR, 0, 0, "HY091"},
      {IPD, 0, SQL_DESC_BIND_TYPE, SQL_ERROR, 0, 0, "HY091"},
      {USER, 0, SQL_DESC_ROWS_PROCESSED_PTR, SQL_ERROR, 0, 0, "HY091"},
      {ARD, 0, SQL_DESC_COUNT, SQL_SUCCESS, 0, 2, nullptr},
      {IRD, 0, SQL_DESC_COUNT, SQL_SUCCESS, 3, 2, nullptr},
      // Record numbers.
      {ARD, 1, SQL_DESC_CONCISE_TYPE, SQL_NO_DATA, 0, 0, nullptr},
      {ARD, 0, SQL_DESC_CONCISE_TYPE, SQL_SUCCESS, 0, 2, nullptr},
      {USER, 0, SQL_DESC_TYPE, SQL_SUCCESS, 0, 2, nullptr},
      {APD, 0, SQL_DESC_TYPE, SQL_ERROR, 0, 0, "07009"},
      {IPD, 0, SQL_DESC_TYPE, SQL_ERROR, 0, 0, "07009"},
      {IPD, -1, SQL_DESC_TYPE, SQL_ERROR, 0, 0, "07009"},
      {IRD, 4, SQL_DESC_TYPE, SQL_NO_DATA, 0, 0, nullptr},
      // Implementation row descriptor, from the column descriptions.
      {IRD, 1, SQL_DESC_CONCISE_TYPE, SQL_SUCCESS, SQL_INTEGER, 2, nullptr},
      {IRD, 1, SQL_DESC_UNSIGNED, SQL_SUCCESS, SQL_FALSE, 2, nullptr},
      {IRD, 3, SQL_DESC_UNSIGNED, SQL_SUCCESS, SQL_FALSE, 2, nullptr},
      {IRD, 2, SQL_DESC_UNSIGNED, SQL_SUCCESS, SQL_TRUE, 2, nullptr},
      {IRD, 1, SQL_DESC_NUM_PREC_RADIX, SQL_SUCCESS, 10, 4, nullptr},
      {IRD, 2, SQL_DESC_LENGTH, SQL_SUCCESS, 254, 8, nullptr},
      {IRD, 2, SQL_DESC_OCTET_LENGTH, SQL_SUCCESS, 254, 8, nullptr},
      {IRD, 3, SQL_DESC_OCTET_LENGTH, SQL_SUCCESS, 256, 8, nullptr},
      {IRD, 2, SQL_DESC_DISPLAY_SIZE, SQL_SUCCESS, 254, 8, nullptr},
      {IRD, 3, SQL_DESC_PRECISION, SQL_SUCCESS, 254, 2, nullptr},
      {IRD, 2, SQL_DESC_NULLABLE, SQL_SUCCESS, SQL_NULLABLE, 2, nullptr},
      {IRD, 2, SQL_DESC_UPDATABLE, SQL_SUCCESS, SQL_ATTR_READONLY, 2, nullptr},
      {IRD, 2, SQL_DESC_CASE_SENSITIVE, SQL_SUCCESS, 1, 4, nullptr},
      {IRD, 1, SQL_DESC_CASE_SENSITIVE, SQL_SUCCESS, 0, 4, nullptr},
      {IRD, 2, SQL_DESC_SEARCHABLE, SQL_SUCCESS, SQL_PRED_SEARCHABLE, 2, nullptr},
      {IRD, 1, SQL_DESC_SEARCHABLE, SQL_SUCCESS, SQL_PRED_BASIC, 2, nullptr},
      {IRD, 2, SQL_DESC_UNNAMED, SQL_SUCCESS, SQL_NAMED, 2, nullptr},
      {IRD, 1, SQL_DESC_DATA_PTR, SQL_ERROR, 0, 0, "HY091"},
      {IRD, 1, SQL_DESC_PARAMETER_TYPE, SQL_ERROR, 0, 0, "HY091"},
      // Implementation parameter descriptor.
      {IPD, 1, SQL_DESC_NULLABLE, SQL_SUCCESS, SQL_NULLABLE, 2, nullptr},
      {IPD, 1, SQL_DESC_PARAMETER_TYPE, SQL_SUCCESS, SQL_PARAM_INPUT, 2, nullptr},
      {IPD, 1, SQL_DESC_CASE_SENSITIVE, SQL_SUCCESS, 1, 4, nullptr},
      {IPD, 1, SQL_DESC_DISPLAY_SIZE, SQL_ERROR, 0, 0, "HY091"},
      // Application descriptors.
      {USER, 1, SQL_DESC_NULLABLE, SQL_ERROR, 0, 0, "HY091"},
      {USER, 1, SQL_DESC_NAME, SQL_ERROR, 0, 0, "HY091"},
      {USER, 1, 4711, SQL_ERROR, 0, 0, "IM001"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.kind)) + " rec " + std::to_string(c.rec) + " field " +
                 std::to_string(c.field));
    SQLHDESC d = Desc(c.kind);
    int64_t value = 0;
    SQLINTEGER len = 0;
    EXPECT_EQ(ReadInt(d, c.rec, c.field, &value, &len), c.rc);
    if (c.rc == SQL_SUCCESS) {
      EXPECT_EQ(value, c.value);
      if (c.width != 0) {
        EXPECT_EQ(len, c.width);
      }
    } else if (c.rc == SQL_ERROR) {
      EXPECT_EQ(DescState(d), c.state);
    }
  }
}

// Numbers count their precision in decimal digits, the approximate ones too:
// the radix is 10 for each (as the catalog's NUM_PREC_RADIX says), and no
// number for the types without one.
TEST_P(DescFieldTest, NumericRadixIsTenForEveryNumber) {
  OpenResult(stmt_, "R:7,F:6,D:8,I:4,N:2,C:12");
  const int64_t expected[] = {10, 10, 10, 10, 10, 0};
  SQLHDESC ird = Desc(IRD);
  for (SQLSMALLINT rec = 1; rec <= 6; ++rec) {
    SCOPED_TRACE(rec);
    int64_t value = -1;
    SQLINTEGER len = 0;
    EXPECT_EQ(ReadInt(ird, rec, SQL_DESC_NUM_PREC_RADIX, &value, &len), SQL_SUCCESS);
    EXPECT_EQ(value, expected[rec - 1]);
    SQLLEN attr = -1;
    EXPECT_EQ(SQLColAttribute(stmt_, static_cast<SQLUSMALLINT>(rec), SQL_DESC_NUM_PREC_RADIX, nullptr, 0,
                              nullptr, &attr),
              SQL_SUCCESS);
    EXPECT_EQ(attr, expected[rec - 1]);
  }
}

TEST_P(DescFieldTest, TextFieldsOfTheRowDescriptor) {
  OpenResult(stmt_, "ID:4,NAME:12");
  SQLHDESC ird = Desc(IRD);
  std::string text;
  EXPECT_EQ(ReadText(ird, 2, SQL_DESC_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "NAME");
  EXPECT_EQ(ReadText(ird, 2, SQL_DESC_LABEL, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "NAME");
  EXPECT_EQ(ReadText(ird, 2, SQL_DESC_BASE_COLUMN_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "NAME");
  EXPECT_EQ(ReadText(ird, 1, SQL_DESC_LOCAL_TYPE_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "");
  EXPECT_EQ(ReadText(ird, 1, SQL_DESC_TABLE_NAME, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "");
}

TEST_P(DescFieldTest, BookmarkRecordOfTheRowDescriptor) {
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
            SQL_SUCCESS);
  OpenResult(stmt_, "ID:4");
  SQLHDESC ird = Desc(IRD);
  std::string text;
  for (SQLSMALLINT field : {SQL_DESC_NAME, SQL_DESC_LABEL, SQL_DESC_BASE_COLUMN_NAME}) {
    EXPECT_EQ(ReadText(ird, 0, field, &text), SQL_SUCCESS);
    EXPECT_EQ(text, "BOOKMARK");
  }
  int64_t v = 0;
  SQLINTEGER len = 0;
  EXPECT_EQ(ReadInt(ird, 0, SQL_DESC_CONCISE_TYPE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_CHAR);
  EXPECT_EQ(ReadInt(ird, 0, SQL_DESC_LENGTH, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 8);
  EXPECT_EQ(ReadInt(ird, 0, SQL_DESC_OCTET_LENGTH, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 8);
  EXPECT_EQ(ReadInt(ird, 0, SQL_DESC_NULLABLE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_NO_NULLS);
}

// A name cut to the buffer: the full length is reported with 01004.
TEST_P(DescFieldTest, TextCutToTheBuffer) {
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
            SQL_SUCCESS);
  OpenResult(stmt_, "ID:4");
  SQLHDESC ird = Desc(IRD);
  std::string text;
  SQLINTEGER len = 0;
  if (wide()) {
    EXPECT_EQ(ReadText(ird, 0, SQL_DESC_NAME, &text, 10, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(text, "BOOK");
    EXPECT_EQ(len, 16);
    EXPECT_EQ(DescState(ird), "01004");
    EXPECT_EQ(ReadText(ird, 0, SQL_DESC_NAME, &text, 18, &len), SQL_SUCCESS);
    EXPECT_EQ(text, "BOOKMARK");
  } else {
    EXPECT_EQ(ReadText(ird, 0, SQL_DESC_NAME, &text, 8, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(text, "BOOKMAR");
    EXPECT_EQ(len, 8);
    EXPECT_EQ(DescState(ird), "01004");
  }
  // A negative length is refused, never taken for a huge buffer.
  EXPECT_EQ(ReadText(ird, 0, SQL_DESC_NAME, &text, -2, &len), SQL_ERROR);
  EXPECT_EQ(DescState(ird), "HY090");
}

TEST_P(DescFieldTest, PointerFieldsNeedRoomForAPointer) {
  SQLHDESC ard = Desc(ARD);
  SQLPOINTER p = nullptr;
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_ARRAY_STATUS_PTR, &p, 4, nullptr), SQL_ERROR);
  EXPECT_EQ(DescState(ard), "HY009");
  EXPECT_EQ(SQLGetDescField(ard, 0, SQL_DESC_ARRAY_STATUS_PTR, &p, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
}

// ---- writes --------------------------------------------------------------------

struct WriteCase {
  Kind kind;
  SQLSMALLINT rec;
  SQLSMALLINT field;
  intptr_t value;
  SQLRETURN rc;
  const char* state;
};

TEST_P(DescFieldTest, WriteRefusals) {
  OpenResult(stmt_, "ID:4");
  static SQLUSMALLINT statuses[4];
  const WriteCase cases[] = {
      {USER, 1, SQL_DESC_DISPLAY_SIZE, 5, SQL_ERROR, "HY091"},
      {ARD, 1, SQL_DESC_NULLABLE, 1, SQL_ERROR, "HY091"},
      {IPD, 0, SQL_DESC_ALLOC_TYPE, 1, SQL_ERROR, "HY091"},
      {IRD, 1, SQL_DESC_TYPE, SQL_CHAR, SQL_ERROR, "HY016"},
      {IRD, 0, SQL_DESC_ARRAY_STATUS_PTR, reinterpret_cast<intptr_t>(statuses), SQL_SUCCESS, nullptr},
      {IRD, 0, SQL_DESC_COUNT, 2, SQL_ERROR, "HY091"},
      {APD, 0, SQL_DESC_TYPE, SQL_C_LONG, SQL_ERROR, "07009"},
      {IPD, 0, SQL_DESC_TYPE, SQL_INTEGER, SQL_ERROR, "07009"},
      {USER, 1, SQL_DESC_TYPE, 4711, SQL_ERROR, "HY092"},
      {ARD, 1, SQL_DESC_CONCISE_TYPE, 4711, SQL_ERROR, "HY092"},
      {IPD, 1, SQL_DESC_UNNAMED, 2, SQL_ERROR, "HY091"},
      {ARD, 1, SQL_DESC_PARAMETER_TYPE, 1, SQL_ERROR, "HY091"},
      {IPD, 1, SQL_DESC_BIND_OFFSET_PTR, 8, SQL_ERROR, "HY091"},
      {APD, 0, SQL_DESC_ROWS_PROCESSED_PTR, 8, SQL_ERROR, "HY091"},
      {USER, 1, 4711, 1, SQL_ERROR, "IM001"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.kind)) + " rec " + std::to_string(c.rec) + " field " +
                 std::to_string(c.field));
    SQLHDESC d = Desc(c.kind);
    EXPECT_EQ(Set(d, c.rec, c.field, c.value), c.rc);
    if (c.state != nullptr) {
      EXPECT_EQ(DescState(d), c.state);
    }
  }
}

// What a type write implies for the other fields of the record.
TEST_P(DescFieldTest, TypeWritesSetTheirCompanionFields) {
  struct Case {
    SQLSMALLINT field;
    intptr_t value;
    SQLSMALLINT type, concise, code, precision;
    SQLINTEGER intervalPrecision;
  } cases[] = {
      {SQL_DESC_CONCISE_TYPE, SQL_TYPE_TIMESTAMP, SQL_DATETIME, SQL_TYPE_TIMESTAMP, SQL_CODE_TIMESTAMP, 6, 0},
      {SQL_DESC_CONCISE_TYPE, SQL_NUMERIC, SQL_NUMERIC, SQL_NUMERIC, 0, 38, 0},
      {SQL_DESC_CONCISE_TYPE, SQL_INTERVAL_HOUR_TO_SECOND, SQL_INTERVAL, SQL_INTERVAL_HOUR_TO_SECOND, 12,
       6, 2},
      {SQL_DESC_TYPE, SQL_FLOAT, SQL_FLOAT, SQL_FLOAT, 0, 53, 0},
      {SQL_DESC_TYPE, SQL_VARCHAR, SQL_VARCHAR, SQL_VARCHAR, 0, 0, 0},
  };
  SQLHDESC d = user_;
  SQLSMALLINT rec = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_EQ(Set(d, rec, c.field, c.value), SQL_SUCCESS);
    int64_t v = 0;
    SQLINTEGER len = 0;
    EXPECT_EQ(ReadInt(d, rec, SQL_DESC_TYPE, &v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, c.type);
    EXPECT_EQ(ReadInt(d, rec, SQL_DESC_CONCISE_TYPE, &v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, c.concise);
    EXPECT_EQ(ReadInt(d, rec, SQL_DESC_DATETIME_INTERVAL_CODE, &v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, c.code);
    EXPECT_EQ(ReadInt(d, rec, SQL_DESC_PRECISION, &v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, c.precision);
    EXPECT_EQ(ReadInt(d, rec, SQL_DESC_DATETIME_INTERVAL_PRECISION, &v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, c.intervalPrecision);
    ++rec;
  }
  // TYPE 10 with a code already set gives the interval's concise type.
  SQLHDESC apd = Desc(APD);
  ASSERT_EQ(Set(apd, 1, SQL_DESC_DATETIME_INTERVAL_CODE, SQL_CODE_DAY), SQL_SUCCESS);
  ASSERT_EQ(Set(apd, 1, SQL_DESC_TYPE, SQL_INTERVAL), SQL_SUCCESS);
  int64_t v = 0;
  SQLINTEGER len = 0;
  EXPECT_EQ(ReadInt(apd, 1, SQL_DESC_CONCISE_TYPE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_INTERVAL_DAY);
  EXPECT_EQ(ReadInt(apd, 1, SQL_DESC_DATETIME_INTERVAL_PRECISION, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 2);
}

// Zero is a value for SCALE and OCTET_LENGTH, not "leave it".
// Every IPD field that describes a bound parameter reaches what the agent
// is told at the next execution, and a change marks the told description
// stale.
TEST_P(DescFieldTest, IpdFieldsReachTheParameterBinding) {
  SQLCHAR value[16] = "1.5";
  SQLLEN ind = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, value, sizeof value, &ind),
            SQL_SUCCESS);
  SQLHDESC ipd = Desc(IPD);
  auto set = [&](SQLSMALLINT field, SQLLEN v) {
    ASSERT_EQ(SQLSetDescField(ipd, 1, field, reinterpret_cast<SQLPOINTER>(v), SQL_IS_INTEGER), SQL_SUCCESS);
  };
  const StmtRecord* s = Rec(stmt_);
  set(SQL_DESC_CONCISE_TYPE, SQL_DECIMAL);
  set(SQL_DESC_PRECISION, 12);
  set(SQL_DESC_SCALE, 3);
  EXPECT_EQ(s->paramBindings[0].sqlType, SQL_DECIMAL);
  EXPECT_EQ(s->paramSummaries[0].sqlType, SQL_DECIMAL);
  EXPECT_EQ(s->paramSummaries[0].columnSize, 12u);
  EXPECT_EQ(s->paramSummaries[0].decimalDigits, 3);
  EXPECT_EQ(s->flags & SF_PARAM_INFO_CURRENT, 0);
  set(SQL_DESC_TYPE, SQL_VARCHAR);
  set(SQL_DESC_LENGTH, 40);
  EXPECT_EQ(s->paramSummaries[0].sqlType, SQL_VARCHAR);
  EXPECT_EQ(s->paramSummaries[0].columnSize, 40u);
  set(SQL_DESC_PARAMETER_TYPE, SQL_PARAM_INPUT_OUTPUT);
  EXPECT_EQ(s->paramSummaries[0].direction, SQL_PARAM_INPUT_OUTPUT);
  // The C side stays as bound.
  EXPECT_EQ(s->paramSummaries[0].cType, SQL_C_CHAR);
}

// A write that changes what an APD record's buffer holds unbinds the record:
// no data pointer, and the parameter is no longer bound.
TEST_P(DescFieldTest, AnUnbindingApdWriteUnbindsTheParameter) {
  SQLINTEGER v = 42;
  SQLLEN ind = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, &ind), SQL_SUCCESS);
  ASSERT_NE(StmtGetParamBinding(1, Rec(stmt_)), nullptr);
  SQLHDESC apd = Desc(APD);
  ASSERT_EQ(SQLSetDescField(apd, 1, SQL_DESC_OCTET_LENGTH, reinterpret_cast<SQLPOINTER>(4), SQL_IS_INTEGER),
            SQL_SUCCESS);
  EXPECT_EQ(StmtGetParamBinding(1, Rec(stmt_)), nullptr);
  SQLPOINTER data = &v;
  ASSERT_EQ(SQLGetDescField(apd, 1, SQL_DESC_DATA_PTR, &data, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
  EXPECT_EQ(data, nullptr);
  // The indicator and length pointers are no such change.
  ASSERT_EQ(SQLSetDescField(apd, 1, SQL_DESC_DATA_PTR, &v, SQL_IS_POINTER), SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(apd, 1, SQL_DESC_INDICATOR_PTR, &ind, SQL_IS_POINTER), SQL_SUCCESS);
  EXPECT_NE(StmtGetParamBinding(1, Rec(stmt_)), nullptr);
}

TEST_P(DescFieldTest, ZeroScaleAndOctetLengthAreStored) {
  ASSERT_EQ(Set(user_, 1, SQL_DESC_SCALE, 4), SQL_SUCCESS);
  ASSERT_EQ(Set(user_, 1, SQL_DESC_OCTET_LENGTH, 40), SQL_SUCCESS);
  ASSERT_EQ(Set(user_, 1, SQL_DESC_SCALE, 0), SQL_SUCCESS);
  ASSERT_EQ(Set(user_, 1, SQL_DESC_OCTET_LENGTH, 0), SQL_SUCCESS);
  int64_t v = -1;
  SQLINTEGER len = 0;
  EXPECT_EQ(ReadInt(user_, 1, SQL_DESC_SCALE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ReadInt(user_, 1, SQL_DESC_OCTET_LENGTH, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 0);
}

TEST_P(DescFieldTest, CountGrowsAndTrims) {
  SQLHDESC d = user_;
  ASSERT_EQ(Set(d, 0, SQL_DESC_COUNT, 5), SQL_SUCCESS);
  EXPECT_EQ(DescRecCount(DescRec(d)), 5);
  ASSERT_EQ(Set(d, 0, SQL_DESC_COUNT, 2), SQL_SUCCESS);
  EXPECT_EQ(DescRecCount(DescRec(d)), 2);
  int64_t v = 0;
  SQLINTEGER len = 0;
  EXPECT_EQ(ReadInt(d, 3, SQL_DESC_TYPE, &v, &len), SQL_NO_DATA);
  // Writing a record beyond COUNT grows the descriptor to it; ARD records
  // start as SQL_C_DEFAULT, IPD records as input parameters.
  SQLHDESC ard = Desc(ARD);
  ASSERT_EQ(Set(ard, 3, SQL_DESC_OCTET_LENGTH, 4), SQL_SUCCESS);
  EXPECT_EQ(ReadInt(ard, 0, SQL_DESC_COUNT, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(ReadInt(ard, 2, SQL_DESC_CONCISE_TYPE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_C_DEFAULT);
  SQLHDESC ipd = Desc(IPD);
  ASSERT_EQ(Set(ipd, 0, SQL_DESC_COUNT, 2), SQL_SUCCESS);
  EXPECT_EQ(ReadInt(ipd, 2, SQL_DESC_PARAMETER_TYPE, &v, &len), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_PARAM_INPUT);
}

TEST_P(DescFieldTest, ParameterNameInBothForms) {
  SQLHDESC ipd = Desc(IPD);
  if (wide()) {
    const SQLWCHAR name[] = {'@', 'p', 0x00E9, 0};  // "@pé"
    ASSERT_EQ(SQLSetDescFieldW(ipd, 1, SQL_DESC_NAME, const_cast<SQLWCHAR*>(name), SQL_NTS), SQL_SUCCESS);
  } else {
    char name[] = "@p\xC3\xA9";
    ASSERT_EQ(SQLSetDescField(ipd, 1, SQL_DESC_NAME, name, SQL_NTS), SQL_SUCCESS);
  }
  char narrow[16] = {};
  SQLINTEGER len = 0;
  ASSERT_EQ(SQLGetDescField(ipd, 1, SQL_DESC_NAME, narrow, sizeof narrow, &len), SQL_SUCCESS);
  EXPECT_STREQ(narrow, "@p\xC3\xA9");
  EXPECT_EQ(len, 4);
  SQLWCHAR wideName[8] = {};
  ASSERT_EQ(SQLGetDescFieldW(ipd, 1, SQL_DESC_NAME, wideName, sizeof wideName, &len), SQL_SUCCESS);
  EXPECT_EQ(wideName[2], 0x00E9);
  EXPECT_EQ(len, 6);
  int64_t v = 0;
  SQLINTEGER l = 0;
  EXPECT_EQ(ReadInt(ipd, 1, SQL_DESC_UNNAMED, &v, &l), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_NAMED);
}

// ---- record calls --------------------------------------------------------------

TEST_P(DescFieldTest, SetDescRecAndGetDescRec) {
  SQLHDESC d = user_;
  SQLINTEGER buffer = 0;
  SQLLEN octets = 0, ind = 0;
  ASSERT_EQ(SQLSetDescRec(d, 1, SQL_DATETIME, SQL_CODE_DATE, 6, 0, 0, &buffer, &octets, &ind),
            SQL_SUCCESS);
  SQLSMALLINT type = 0, sub = 0, prec = -1, scale = -1, nullable = 77, nameLen = 77;
  SQLLEN length = static_cast<SQLLEN>(0xA5A5A5A5A5A5A5A5ull);
  SQLCHAR name[8] = "xxxxxxx";
  ASSERT_EQ(SQLGetDescRec(d, 1, name, sizeof name, &nameLen, &type, &sub, &length, &prec, &scale,
                          &nullable),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_DATETIME);
  EXPECT_EQ(sub, SQL_CODE_DATE);
  EXPECT_EQ(length, 6) << "the whole SQLLEN is written";
  EXPECT_EQ(prec, 0);
  EXPECT_EQ(scale, 0);
  // An application descriptor leaves the name and nullability alone.
  EXPECT_EQ(nullable, 77);
  EXPECT_EQ(nameLen, 77);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "xxxxxxx");
  int64_t v = 0;
  SQLINTEGER l = 0;
  EXPECT_EQ(ReadInt(d, 1, SQL_DESC_CONCISE_TYPE, &v, &l), SQL_SUCCESS);
  EXPECT_EQ(v, SQL_TYPE_DATE);
  // Beyond COUNT: SQL_NO_DATA and nothing written.
  type = 55;
  EXPECT_EQ(SQLGetDescRec(d, 2, name, sizeof name, &nameLen, &type, &sub, &length, &prec, &scale,
                          &nullable),
            SQL_NO_DATA);
  EXPECT_EQ(type, 55);
  // SQLSetDescRec cannot change an implementation row descriptor.
  EXPECT_EQ(SQLSetDescRec(Desc(IRD), 1, SQL_CHAR, 0, 1, 0, 0, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(DescState(Desc(IRD)), "HY016");
}

TEST_P(DescFieldTest, GetDescRecOfTheRowDescriptorGivesNameAndNullability) {
  OpenResult(stmt_, "ID:4,LONGNAME:12");
  SQLHDESC ird = Desc(IRD);
  SQLSMALLINT type = 0, sub = 0, prec = 0, scale = 0, nullable = 0, nameLen = 0;
  SQLLEN length = 0;
  SQLRETURN rc;
  std::string name;
  if (wide()) {
    SQLWCHAR buffer[5] = {};
    rc = SQLGetDescRecW(ird, 2, buffer, 5, &nameLen, &type, &sub, &length, &prec, &scale, &nullable);
    for (SQLWCHAR c : buffer) {
      if (c == 0) break;
      name.push_back(static_cast<char>(c));
    }
  } else {
    SQLCHAR buffer[5] = {};
    rc = SQLGetDescRec(ird, 2, buffer, 5, &nameLen, &type, &sub, &length, &prec, &scale, &nullable);
    name = reinterpret_cast<char*>(buffer);
  }
  EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(name, "LONG");
  EXPECT_EQ(nameLen, 8);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(nullable, SQL_NULLABLE);
  EXPECT_EQ(length, 254);
}

INSTANTIATE_TEST_SUITE_P(Builds, DescFieldTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unicode" : "Ansi";
                         });

}  // namespace
}  // namespace kx::testing

#include "util/value_rec.h"

#include <cstdlib>
#include <cstring>

#include "util/errcodes.h"

namespace kx {
namespace {

const ValueRec* Find(const HashTable* table, uint32_t key) {
  return reinterpret_cast<const ValueRec*>(static_cast<uintptr_t>(HashGet(table, &key)));
}

// VAL_CountDistinct, also counting texts that could not be duplicated.
int CountDistinct(uint16_t n, const ValueRec* recs, uint16_t capacity, ValueRec* out, int mode,
                  int* lostTexts) {
  if (n == 0 || recs == nullptr) return 0;
  if (out != nullptr && capacity == 0) return 0;
  int group = recs[0].attrId < 0 ? -static_cast<int>(recs[0].attrId) : recs[0].attrId;
  const ValueRec* dflt = nullptr;
  int count = 0;
  for (uint16_t i = 0; i < n; ++i) {
    if (out != nullptr && count >= capacity) break;
    const ValueRec& r = recs[i];
    if (r.attrId < 0) continue;
    if (r.attrId != group) {
      group = r.attrId;
      dflt = nullptr;
    }
    if (r.column == 0) {
      dflt = &r;
    } else if (dflt != nullptr && VAL_Equal(&r, dflt)) {
      continue;
    }
    if (out != nullptr) {
      VAL_Copy(&out[count], &r, mode);
      if (lostTexts && mode == VAL_COPY_DUP && r.kind == VAL_TEXT && r.value.text &&
          out[count].value.text == nullptr)
        ++*lostTexts;
    }
    ++count;
  }
  return count;
}

}  // namespace

int VAL_Get(const HashTable* table, uint16_t attrId, uint16_t column, int32_t* intOut,
            const char** textOut, double* doubleOut) {
  if (table == nullptr) return 0;
  const ValueRec* rec = Find(table, VAL_Key(attrId, column));
  if (rec == nullptr) rec = Find(table, VAL_Key(attrId, 0));
  if (rec == nullptr) return 0;
  if (rec->column != column && rec->column != 0) return 0;
  if (rec->attrId < 0 || static_cast<uint16_t>(rec->attrId) != attrId) return 0;
  switch (rec->kind) {
    case VAL_INT:
    case VAL_INT2:
      if (intOut == nullptr) return 0;
      *intOut = rec->value.i32;
      return 1;
    case VAL_TEXT:
      if (textOut == nullptr) return 0;
      *textOut = rec->value.text;
      return 1;
    case VAL_DOUBLE:
      if (doubleOut == nullptr) return 0;
      *doubleOut = rec->value.dbl;
      return 1;
    default:
      return 0;
  }
}

void VAL_Clear(ValueRec* rec) {
  if (rec == nullptr || rec->kind != VAL_TEXT) return;
  free(rec->value.text);
  rec->value.text = nullptr;
}

int VAL_Free(uint64_t rec, const void*, void*) {
  auto* r = reinterpret_cast<ValueRec*>(static_cast<uintptr_t>(rec));
  if (r == nullptr) return 0;
  VAL_Clear(r);
  free(r);
  return 0;
}

int VAL_Equal(const ValueRec* a, const ValueRec* b) {
  if (a == nullptr || b == nullptr || a->kind != b->kind) return 0;
  switch (a->kind) {
    case VAL_TEXT:
      return a->value.text == b->value.text;
    case VAL_INT:
    case VAL_INT2:
      return a->value.i32 == b->value.i32;
    case VAL_DOUBLE:
      return a->value.dbl == b->value.dbl;
    default:
      return 0;
  }
}

ValueRec* VAL_Copy(ValueRec* dst, const ValueRec* src, int mode) {
  if (dst == nullptr || src == nullptr) return nullptr;
  *dst = *src;
  if (mode == VAL_COPY_DUP && src->kind == VAL_TEXT && src->value.text != nullptr)
    dst->value.text = strdup(src->value.text);
  return dst;
}

int VAL_CountDistinct(uint16_t n, const ValueRec* recs, uint16_t capacity, ValueRec* out,
                      int mode) {
  return CountDistinct(n, recs, capacity, out, mode, nullptr);
}

int VAL_CollectDistinct(uint16_t n, const ValueRec* recs, uint16_t* countOut, ValueRec** arrayOut,
                        int mode) {
  if (countOut) *countOut = 0;
  if (arrayOut) *arrayOut = nullptr;
  if (countOut == nullptr || arrayOut == nullptr) return KX_ERR_GENERAL;
  if (n == 0 || recs == nullptr) return KX_OK;
  int count = CountDistinct(n, recs, 0, nullptr, mode, nullptr);
  if (count == 0) return KX_OK;
  auto* array = static_cast<ValueRec*>(calloc(static_cast<size_t>(count), sizeof(ValueRec)));
  if (array == nullptr) return KX_ERR_NOMEM;
  int lost = 0;
  CountDistinct(n, recs, static_cast<uint16_t>(count), array, mode, &lost);
  if (lost) {
    // A text that could not be copied would vanish from the answer: report
    // the shortage instead of delivering an incomplete set.
    for (int i = 0; i < count; ++i)
      if (mode == VAL_COPY_DUP) VAL_Clear(&array[i]);
    free(array);
    return KX_ERR_NOMEM;
  }
  *countOut = static_cast<uint16_t>(count);
  *arrayOut = array;
  return KX_OK;
}

}  // namespace kx

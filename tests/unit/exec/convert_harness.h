// A row-buffer element of any storage type, handed to its converter the way
// the column reader does, with the application's target between canaries.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/row_buffer.h"

namespace kx::test {

// One element as the row buffer holds it.
struct Element {
  uint32_t type = RBT_NONE;
  std::vector<unsigned char> bytes;  // the element (width bytes)
  std::vector<unsigned char> heap;   // the block of a pointer type
  void FixPointer();                 // points a pointer element at heap
};

Element NarrowElement(uint32_t type, const std::string& text);
Element WideElement(uint32_t type, const std::u16string& text);
Element BinaryElement(uint32_t type, const std::vector<unsigned char>& data);
Element IntegerElement(uint32_t type, int64_t v);
Element FloatElement(float v);
Element DoubleElement(double v);
Element DateElement(int16_t y, uint16_t m, uint16_t d);
Element TimeElement(uint16_t h, uint16_t m, uint16_t s);
// A time element that keeps a fraction of a second (10 bytes).
Element TimeElement(uint16_t h, uint16_t m, uint16_t s, uint32_t fraction);
Element TimestampElement(int16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                         uint32_t fraction);

// What the source path hands on: the value's location and length in the
// units of its converter.
struct SourceView {
  const unsigned char* data;
  uint64_t length;
  enum Path { TEXT, WIDE, BINARY, OTHER } path;
};
SourceView ViewOf(const Element& e);

struct Outcome {
  int16_t rc = 0;
  int32_t err = 0;
  int64_t outLen = -12345;         // untouched marker
  std::vector<unsigned char> target;  // the target region after the call
  bool canariesIntact = true;
  uint64_t consumed = 0;
};

constexpr unsigned char kFill = 0xCC;  // every target byte before the call
constexpr int64_t kUntouched = -12345;

struct Request {
  int32_t cType;
  int64_t bufferLength;  // what the application passes
  size_t capacity;       // the real size of the target region
  int32_t scale = 0;
  int32_t precision = 0;
  uint16_t fractionDigits = 0;
};

// Delivers one element into a fresh target of request.capacity bytes framed
// by canaries, as the first call of the column reader would (total = the
// value's own length).
Outcome Deliver(const Element& e, const Request& r);

// The converter call on a source view (for pieces: a view of the rest).
// split: the part of a character earlier pieces delivered (in/out), as a
// caller reading a value in pieces keeps it.
Outcome DeliverView(const SourceView& v, int64_t total, const Request& r, uint32_t* split = nullptr);

// Bytes of a UTF-16 text, with or without its 16-bit terminator.
std::vector<unsigned char> WideBytes(const std::u16string& s, bool terminate);
std::vector<unsigned char> NarrowBytes(const std::string& s, bool terminate);

}  // namespace kx::test

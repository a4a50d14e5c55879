#pragma once
// Integers in byte buffers: little-endian, the byte order of the binary
// formats the library reads and writes (record log, PE images, registry
// values, shell links, the browser's connection record), and big-endian for
// the one foreign header it reads (the registry store's SQLite header).
// Bytes are assembled one by one, so neither the host's byte order nor the
// buffer's alignment matters. Also the value of a hexadecimal digit, for the
// formats that spell bytes in hex.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sundry::platform {

inline uint16_t DecodeFixed16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t DecodeFixed32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t DecodeFixed64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(DecodeFixed32(b)) | (static_cast<uint64_t>(DecodeFixed32(b + 4)) << 32);
}

// A big-endian 32-bit integer (most significant byte first): the byte
// order of the SQLite header at the start of the registry store's file.
inline uint32_t DecodeBigEndian32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
}

inline void EncodeFixed16(void* p, uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}

inline void EncodeFixed32(void* p, uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void EncodeFixed64(void* p, uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Appends the value's bytes to *dst.
inline void PutFixed16(std::string* dst, uint16_t v) {
  char b[2];
  EncodeFixed16(b, v);
  dst->append(b, 2);
}

inline void PutFixed32(std::string* dst, uint32_t v) {
  char b[4];
  EncodeFixed32(b, v);
  dst->append(b, 4);
}

inline void PutFixed64(std::string* dst, uint64_t v) {
  char b[8];
  EncodeFixed64(b, v);
  dst->append(b, 8);
}

// Bounds-checked reads from a byte range: false (and *out untouched) when
// the field at offset does not lie wholly inside [data, data + size).
inline bool ReadFixed16(const void* data, size_t size, size_t offset, uint16_t* out) {
  if (offset > size || size - offset < 2) return false;
  *out = DecodeFixed16(static_cast<const unsigned char*>(data) + offset);
  return true;
}

inline bool ReadFixed32(const void* data, size_t size, size_t offset, uint32_t* out) {
  if (offset > size || size - offset < 4) return false;
  *out = DecodeFixed32(static_cast<const unsigned char*>(data) + offset);
  return true;
}

// The value of a hexadecimal digit ('0'-'9', 'a'-'f', 'A'-'F'), or -1 for
// any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace sundry::platform

// Byte-exact encoding of the numbers that table files and record images hold.
//
// Every number on disk is little-endian (index keys are the one big-endian exception, so the
// big-endian helpers live here too). These helpers read and write one value at a given byte
// position of a caller-owned buffer; they never cast a struct onto bytes, so the layout does
// not depend on the compiler's padding or the machine's byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kura {

// --- Little-endian ------------------------------------------------------------------------

// Writes the low `width` bytes of value at p, least significant byte first.
inline void PutUnsignedLE(std::uint8_t* p, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Reads `width` bytes at p, least significant byte first.
inline std::uint64_t GetUnsignedLE(const std::uint8_t* p, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

inline void PutU16LE(std::uint8_t* p, std::uint16_t v) {
  PutUnsignedLE(p, v, 2);
}
inline void PutU32LE(std::uint8_t* p, std::uint32_t v) {
  PutUnsignedLE(p, v, 4);
}
inline void PutU64LE(std::uint8_t* p, std::uint64_t v) {
  PutUnsignedLE(p, v, 8);
}
inline void PutI16LE(std::uint8_t* p, std::int16_t v) {
  PutU16LE(p, static_cast<std::uint16_t>(v));
}
inline void PutI32LE(std::uint8_t* p, std::int32_t v) {
  PutU32LE(p, static_cast<std::uint32_t>(v));
}
inline void PutI64LE(std::uint8_t* p, std::int64_t v) {
  PutU64LE(p, static_cast<std::uint64_t>(v));
}
// IEEE 754 binary64, stored as its 64 bits little-endian.
inline void PutF64LE(std::uint8_t* p, double v) {
  PutU64LE(p, std::bit_cast<std::uint64_t>(v));
}

inline std::uint16_t GetU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(GetUnsignedLE(p, 2));
}
inline std::uint32_t GetU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(GetUnsignedLE(p, 4));
}
inline std::uint64_t GetU64LE(const std::uint8_t* p) {
  return GetUnsignedLE(p, 8);
}
inline std::int16_t GetI16LE(const std::uint8_t* p) {
  return static_cast<std::int16_t>(GetU16LE(p));
}
inline std::int32_t GetI32LE(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetU32LE(p));
}
inline std::int64_t GetI64LE(const std::uint8_t* p) {
  return static_cast<std::int64_t>(GetU64LE(p));
}
inline double GetF64LE(const std::uint8_t* p) {
  return std::bit_cast<double>(GetU64LE(p));
}

// --- Big-endian (index keys) --------------------------------------------------------------

// Writes the low `width` bytes of value at p, most significant byte first.
inline void PutUnsignedBE(std::uint8_t* p, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    p[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
  }
}

// Reads `width` bytes at p, most significant byte first.
inline std::uint64_t GetUnsignedBE(const std::uint8_t* p, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

}  // namespace kura

// The Windows base types and constants that our platform layer keeps at its
// surface, so that the control and the client read like their Windows origin.
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using LPCTSTR = const char*;
using LPCSTR = const char*;
using LPSTR = char*;
using LPVOID = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// value * numerator / denominator without overflow on the way, rounded to
// nearest with halves away from zero (dialog units, HIMETRIC); -1 when the
// denominator is zero or the result does not fit.
constexpr LONG MulDiv(LONG value, LONG numerator, LONG denominator) {
    if (denominator == 0) return -1;
    const long long n = static_cast<long long>(value) * numerator;
    const long long d = denominator;
    const long long q = ((n < 0 ? -n : n) + (d < 0 ? -d : d) / 2) / (d < 0 ? -d : d);
    if (q > 0x7FFFFFFF) return -1;
    return static_cast<LONG>((n < 0) != (d < 0) ? -q : q);
}

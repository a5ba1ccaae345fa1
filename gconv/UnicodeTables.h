#pragma once

#include <cstddef>
#include <cstdint>

#include "UnicodeRecords.h"
#include "UnicodeTableLimits.h"

// Tables written at build time by quillmere_gconv_tablegen from the Unicode
// character database and from glibc's own CP932 converter
// (UnicodeTables.cpp and UnicodeTableLimits.h in the build folder).
namespace UnicodeTables {

// Pages of 256 code points: the index gives a page's number in the pages.
constexpr size_t kPageCount = 0x110000 / 256;

using Composition = CompositionRecord;
using Decomposition = DecompositionRecord;

extern const uint16_t kCombiningClassIndex[kPageCount];
extern const uint8_t kCombiningClassPages[][256];

// Every character whose canonical combining class is not 0, ascending, so
// that a pending mark fits in the converter's state as its position here.
extern const char32_t kMarks[];

// Primary composites, ascending by (first, second).
extern const Composition kCompositions[];

// Primary composites and combining marks that decompose, ascending.
extern const Decomposition kDecompositions[];

// Cp932Entry values.
extern const uint16_t kEncodeIndex[kPageCount];
extern const uint32_t kEncodePages[][256];

} // namespace UnicodeTables

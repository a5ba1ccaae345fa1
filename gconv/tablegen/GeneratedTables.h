#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "UnicodeRecords.h"

// Everything the generator writes out, in the layout of UnicodeTables.h.
struct GeneratedTables {
    using Composition = CompositionRecord;
    using Decomposition = DecompositionRecord;

    std::vector<uint16_t> combiningClassIndex;
    std::vector<std::array<uint8_t, 256>> combiningClassPages;
    std::vector<char32_t> marks;
    std::vector<Composition> compositions;
    std::vector<Decomposition> decompositions;
    size_t maxDecompositionLength = 0;
    // The lowest second character of any composition.
    char32_t smallestCompositionSecond = 0;
    std::vector<uint16_t> encodeIndex;
    std::vector<std::array<uint32_t, 256>> encodePages;
};

#pragma once

// The records of the composition tables, as the generator writes them and
// the module reads them.

// A primary composite and the two characters it is composed of.
struct CompositionRecord {
    char32_t first;
    char32_t second;
    char32_t composite;
};

// One level of a canonical decomposition; second is 0 for a singleton.
struct DecompositionRecord {
    char32_t character;
    char32_t first;
    char32_t second;
};

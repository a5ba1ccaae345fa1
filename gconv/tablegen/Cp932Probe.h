#pragma once

#include <iconv.h>

#include <cstdint>
#include <optional>
#include <string>

// Asks glibc's own converter, "UTF-8" to "CP932", what it writes for one
// character, so that the module maps exactly as glibc does.
class Cp932Probe {
public:
    struct Mapping {
        uint16_t code; // one byte, or lead byte << 8 | trail byte
        uint32_t length; // 0 where glibc drops the character
        bool irreversible; // glibc counted it as an irreversible conversion
    };

    // Throws std::runtime_error when glibc has no such converter.
    Cp932Probe();
    ~Cp932Probe();
    Cp932Probe(const Cp932Probe&) = delete;
    Cp932Probe& operator=(const Cp932Probe&) = delete;

    // Empty when glibc refuses c. Throws when glibc answers in a way this
    // converter has no room for (more than two bytes).
    std::optional<Mapping> map(char32_t c);

    static std::string utf8(char32_t c);

private:
    iconv_t m_cd;
};

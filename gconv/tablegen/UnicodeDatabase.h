#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The parts of the Unicode character database that canonical composition
// and the stand-ins need, read from the files of Debian's unicode-data
// package.
class UnicodeDatabase {
public:
    static constexpr char32_t kCodePointLimit = 0x110000;

    // Throws std::runtime_error naming the file when one cannot be read.
    UnicodeDatabase(const std::string& unicodeDataPath, const std::string& normalizationPropsPath,
                    const std::string& corePropsPath);

    uint8_t combiningClass(char32_t c) const;
    // One level of c's canonical decomposition; empty when c has none.
    const std::vector<char32_t>& canonicalDecomposition(char32_t c) const;
    // c's full canonical decomposition (c itself when it has none).
    std::vector<char32_t> fullDecomposition(char32_t c) const;
    // A canonical pair that canonical composition puts back together.
    bool isPrimaryComposite(char32_t c) const;
    // A character that shows nothing (a zero-width space, a variation
    // selector): Default_Ignorable_Code_Point.
    bool isDefaultIgnorable(char32_t c) const;
    // A space of some width (general category Zs).
    bool isSpaceSeparator(char32_t c) const;

private:
    void readUnicodeData(const std::string& path);
    // Marks each code point that derived-property file gives property.
    static void readProperty(const std::string& path, const std::string& property, std::vector<bool>& marks);

    std::vector<uint8_t> m_combiningClass;
    std::vector<bool> m_excluded;
    std::vector<bool> m_ignorable;
    std::vector<bool> m_space;
    std::unordered_map<char32_t, std::vector<char32_t>> m_decomposition;
};

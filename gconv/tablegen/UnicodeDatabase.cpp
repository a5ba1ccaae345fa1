#include "UnicodeDatabase.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<std::string> splitFields(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream stream(line);
    while (std::getline(stream, field, separator))
        fields.push_back(field);
    return fields;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

char32_t parseCodePoint(const std::string& text)
{
    return static_cast<char32_t>(std::stoul(text, nullptr, 16));
}

std::ifstream openOrThrow(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    return file;
}

} // namespace

UnicodeDatabase::UnicodeDatabase(const std::string& unicodeDataPath, const std::string& normalizationPropsPath,
                                 const std::string& corePropsPath)
    : m_combiningClass(kCodePointLimit, 0)
    , m_excluded(kCodePointLimit, false)
    , m_ignorable(kCodePointLimit, false)
    , m_space(kCodePointLimit, false)
{
    readUnicodeData(unicodeDataPath);
    readProperty(normalizationPropsPath, "Full_Composition_Exclusion", m_excluded);
    readProperty(corePropsPath, "Default_Ignorable_Code_Point", m_ignorable);
}

void UnicodeDatabase::readUnicodeData(const std::string& path)
{
    std::ifstream file = openOrThrow(path);
    std::string line;
    size_t count = 0;
    while (std::getline(file, line)) {
        const std::vector<std::string> fields = splitFields(line, ';');
        if (fields.size() < 6)
            continue;
        const char32_t c = parseCodePoint(fields[0]);
        if (c >= kCodePointLimit)
            throw std::runtime_error("code point out of range in " + path);
        m_combiningClass[c] = static_cast<uint8_t>(std::stoul(fields[3]));
        m_space[c] = fields[2] == "Zs";
        // Compatibility decompositions start with a <tag>; only canonical
        // ones keep a name's meaning.
        const std::string& decomposition = fields[5];
        if (!decomposition.empty() && decomposition[0] != '<') {
            std::vector<char32_t> parts;
            for (const std::string& part : splitFields(decomposition, ' '))
                if (!part.empty())
                    parts.push_back(parseCodePoint(part));
            m_decomposition[c] = parts;
        }
        ++count;
    }
    if (count < 1000)
        throw std::runtime_error("too few characters in " + path);
}

void UnicodeDatabase::readProperty(const std::string& path, const std::string& property, std::vector<bool>& marks)
{
    std::ifstream file = openOrThrow(path);
    std::string line;
    size_t count = 0;
    while (std::getline(file, line)) {
        const std::string data = line.substr(0, line.find('#'));
        const std::vector<std::string> fields = splitFields(data, ';');
        if (fields.size() != 2 || trimmed(fields[1]) != property)
            continue;
        const std::string range = trimmed(fields[0]);
        const size_t dots = range.find("..");
        const char32_t first = parseCodePoint(range.substr(0, dots));
        const char32_t last = dots == std::string::npos ? first : parseCodePoint(range.substr(dots + 2));
        if (last >= kCodePointLimit || first > last)
            throw std::runtime_error("bad range " + range + " in " + path);
        for (char32_t c = first; c <= last; ++c)
            marks[c] = true;
        ++count;
    }
    if (count == 0)
        throw std::runtime_error("no " + property + " in " + path);
}

uint8_t UnicodeDatabase::combiningClass(char32_t c) const
{
    return c < kCodePointLimit ? m_combiningClass[c] : 0;
}

const std::vector<char32_t>& UnicodeDatabase::canonicalDecomposition(char32_t c) const
{
    static const std::vector<char32_t> none;
    const auto found = m_decomposition.find(c);
    return found == m_decomposition.end() ? none : found->second;
}

std::vector<char32_t> UnicodeDatabase::fullDecomposition(char32_t c) const
{
    const std::vector<char32_t>& parts = canonicalDecomposition(c);
    if (parts.empty())
        return {c};
    std::vector<char32_t> full;
    for (char32_t part : parts) {
        const std::vector<char32_t> expanded = fullDecomposition(part);
        full.insert(full.end(), expanded.begin(), expanded.end());
    }
    return full;
}

bool UnicodeDatabase::isPrimaryComposite(char32_t c) const
{
    return canonicalDecomposition(c).size() == 2 && !m_excluded[c];
}

bool UnicodeDatabase::isDefaultIgnorable(char32_t c) const
{
    return c < kCodePointLimit && m_ignorable[c];
}

bool UnicodeDatabase::isSpaceSeparator(char32_t c) const
{
    return c < kCodePointLimit && m_space[c];
}

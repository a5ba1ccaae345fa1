#include "TableBuilder.h"

#include "Cp932Entry.h"
#include "Cp932Probe.h"
#include "UnicodeDatabase.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

constexpr char32_t kPageSize = 256;
constexpr size_t kPageCount = UnicodeDatabase::kCodePointLimit / kPageSize;
// A pending mark is kept in the converter's state as a 10-bit position.
constexpr size_t kMarkLimit = 1024;

bool isSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// Splits values (one per code point) into pages, sharing identical pages.
template<typename Value>
void paginate(const std::function<Value(char32_t)>& valueOf, std::vector<uint16_t>& index,
              std::vector<std::array<Value, kPageSize>>& pages)
{
    std::map<std::array<Value, kPageSize>, uint16_t> known;
    const std::array<Value, kPageSize> empty{};
    pages.push_back(empty);
    known[empty] = 0;
    for (size_t page = 0; page < kPageCount; ++page) {
        std::array<Value, kPageSize> values{};
        for (char32_t i = 0; i < kPageSize; ++i)
            values[i] = valueOf(static_cast<char32_t>(page * kPageSize + i));
        auto found = known.find(values);
        if (found == known.end()) {
            found = known.emplace(values, static_cast<uint16_t>(pages.size())).first;
            pages.push_back(values);
        }
        index.push_back(found->second);
    }
}

// How many characters the converter's decomposition of c yields: it follows
// the table of primary composites and decomposing marks only.
size_t runtimeDecompositionLength(const UnicodeDatabase& database, char32_t c)
{
    const std::vector<char32_t>& parts = database.canonicalDecomposition(c);
    const bool listed = database.isPrimaryComposite(c) || (database.combiningClass(c) != 0 && !parts.empty());
    if (!listed)
        return 1;
    size_t length = 0;
    for (char32_t part : parts)
        length += runtimeDecompositionLength(database, part);
    return length;
}

} // namespace

GeneratedTables TableBuilder::build(const UnicodeDatabase& database, Cp932Probe& probe)
{
    GeneratedTables tables;
    addCombiningClasses(database, tables);
    addCompositions(database, tables);
    addEncoding(database, probe, tables);
    return tables;
}

void TableBuilder::addCombiningClasses(const UnicodeDatabase& database, GeneratedTables& tables)
{
    paginate<uint8_t>([&](char32_t c) { return database.combiningClass(c); }, tables.combiningClassIndex,
                      tables.combiningClassPages);
    for (char32_t c = 0; c < UnicodeDatabase::kCodePointLimit; ++c)
        if (database.combiningClass(c) != 0)
            tables.marks.push_back(c);
    if (tables.marks.size() > kMarkLimit)
        throw std::runtime_error(std::to_string(tables.marks.size()) + " combining marks do not fit the converter's state");
}

void TableBuilder::addCompositions(const UnicodeDatabase& database, GeneratedTables& tables)
{
    for (char32_t c = 0; c < UnicodeDatabase::kCodePointLimit; ++c) {
        const std::vector<char32_t>& parts = database.canonicalDecomposition(c);
        if (database.isPrimaryComposite(c)) {
            if (database.combiningClass(parts[0]) != 0)
                throw std::runtime_error("primary composite U+" + std::to_string(uint32_t(c)) + " starts with a mark");
            tables.compositions.push_back({parts[0], parts[1], c});
            tables.decompositions.push_back({c, parts[0], parts[1]});
        } else if (database.combiningClass(c) != 0 && !parts.empty()) {
            // Marks such as U+0344 stand for other marks; they join a
            // sequence in the form that composes.
            if (parts.size() > 2)
                throw std::runtime_error("mark U+" + std::to_string(uint32_t(c)) + " decomposes into more than two");
            tables.decompositions.push_back({c, parts[0], parts.size() == 2 ? parts[1] : 0});
        }
    }
    std::sort(tables.compositions.begin(), tables.compositions.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    if (tables.compositions.empty())
        throw std::runtime_error("the character database gives no compositions");
    tables.smallestCompositionSecond = std::min_element(tables.compositions.begin(), tables.compositions.end(),
                                                        [](const auto& a, const auto& b) { return a.second < b.second; })
                                           ->second;
    for (const GeneratedTables::Decomposition& entry : tables.decompositions)
        tables.maxDecompositionLength =
            std::max(tables.maxDecompositionLength, runtimeDecompositionLength(database, entry.character));
}

void TableBuilder::addEncoding(const UnicodeDatabase& database, Cp932Probe& probe, GeneratedTables& tables)
{
    std::vector<std::optional<Cp932Probe::Mapping>> mappings(UnicodeDatabase::kCodePointLimit);
    for (char32_t c = 0; c < UnicodeDatabase::kCodePointLimit; ++c)
        if (!isSurrogate(c))
            mappings[c] = probe.map(c);
    // Code page 932 holds some letters only under a code point of their
    // own that is canonically the same: the angstrom sign for U+00C5. A
    // reader on Windows sees the very letter.
    std::map<std::vector<char32_t>, char32_t> equivalents;
    for (char32_t c = 0; c < UnicodeDatabase::kCodePointLimit; ++c)
        if (mappings[c] && !database.canonicalDecomposition(c).empty())
            equivalents.emplace(database.fullDecomposition(c), c);
    const auto entryOf = [&](char32_t c) -> uint32_t {
        if (const auto& direct = mappings[c])
            return Cp932Entry::make(direct->code, direct->length, direct->irreversible);
        const std::vector<char32_t> parts = database.fullDecomposition(c);
        if (const auto same = equivalents.find(parts); same != equivalents.end() && same->second != c)
            return Cp932Entry::make(mappings[same->second]->code, mappings[same->second]->length, true);
        // What code page 932 lacks becomes the base letter it is built on.
        const char32_t base = parts.front();
        if (base != c && mappings[base])
            return Cp932Entry::make(mappings[base]->code, mappings[base]->length, true);
        // An accent that formed no letter with the one before it goes, as
        // the accent of a letter built on its base goes.
        if (database.combiningClass(c) != 0)
            return Cp932Entry::make(0, 0, true);
        // What shows nothing (a zero-width space, the selector of a kanji's
        // variant or of an emoji's look) goes, and a space of another width
        // (a no-break space) is a space.
        if (database.isDefaultIgnorable(c))
            return Cp932Entry::make(0, 0, true);
        if (database.isSpaceSeparator(c))
            return Cp932Entry::make(' ', 1, true);
        return 0;
    };
    paginate<uint32_t>(entryOf, tables.encodeIndex, tables.encodePages);
}

#include "PendingSegment.h"

#include "UnicodeProperties.h"
#include "UnicodeTables.h"

#include <cstring>

namespace {

constexpr int kStarterBits = 21;
constexpr int kCountBits = 3;
constexpr int kMarkBits = 10;

static_assert(sizeof(mbstate_t) == sizeof(uint64_t), "the state layout needs eight bytes of mbstate_t");
static_assert(UnicodeProperties::kInvalidInput + 2 < (1u << kStarterBits), "a starter needs 21 bits");
static_assert(UnicodeTables::kMarkCount <= (1u << kMarkBits), "a mark's position needs 10 bits");
static_assert(kStarterBits + kCountBits + PendingSegment::kMaxMarks * kMarkBits <= 64, "the state fits 64 bits");

uint64_t bits(uint64_t word, int shift, int width)
{
    return (word >> shift) & ((uint64_t{1} << width) - 1);
}

} // namespace

PendingSegment PendingSegment::load(const mbstate_t& state)
{
    uint64_t word = 0;
    std::memcpy(&word, &state, sizeof word);
    PendingSegment segment;
    segment.m_starter = static_cast<uint32_t>(bits(word, 0, kStarterBits));
    segment.m_count = static_cast<int>(bits(word, kStarterBits, kCountBits));
    if (segment.m_count > kMaxMarks)
        segment.m_count = kMaxMarks;
    for (int i = 0; i < segment.m_count; ++i) {
        const int shift = kStarterBits + kCountBits + i * kMarkBits;
        segment.m_marks[i] = UnicodeProperties::markAt(static_cast<int>(bits(word, shift, kMarkBits)));
    }
    // Only store() writes the state; still, never drain marks that are not
    // there or keep marks without a segment.
    if (segment.m_starter == kNone || (segment.m_starter == kDraining && segment.m_count == 0)) {
        segment.m_starter = kNone;
        segment.m_count = 0;
    }
    return segment;
}

void PendingSegment::store(mbstate_t& state) const
{
    uint64_t word = m_starter;
    word |= static_cast<uint64_t>(m_count) << kStarterBits;
    for (int i = 0; i < m_count; ++i) {
        const int index = UnicodeProperties::markIndex(m_marks[i]);
        const int shift = kStarterBits + kCountBits + i * kMarkBits;
        word |= static_cast<uint64_t>(index < 0 ? 0 : index) << shift;
    }
    std::memcpy(&state, &word, sizeof word);
}

bool PendingSegment::isEmpty() const
{
    return m_starter == kNone;
}

bool PendingSegment::hasStarter() const
{
    return m_starter >= kFirstCodePoint;
}

bool PendingSegment::isDraining() const
{
    return m_starter == kDraining;
}

char32_t PendingSegment::starter() const
{
    return m_starter - kFirstCodePoint;
}

int PendingSegment::markCount() const
{
    return m_count;
}

char32_t PendingSegment::mark(int i) const
{
    return m_marks[i];
}

void PendingSegment::begin(char32_t starter)
{
    assign(starter, nullptr, 0);
}

void PendingSegment::assign(char32_t starter, const char32_t* marks, int count)
{
    m_starter = starter + kFirstCodePoint;
    m_count = count;
    for (int i = 0; i < count; ++i)
        m_marks[i] = marks[i];
}

void PendingSegment::starterWritten()
{
    m_starter = m_count > 0 ? kDraining : kNone;
}

void PendingSegment::frontMarkWritten()
{
    for (int i = 1; i < m_count; ++i)
        m_marks[i - 1] = m_marks[i];
    --m_count;
    if (m_count == 0)
        m_starter = kNone;
}

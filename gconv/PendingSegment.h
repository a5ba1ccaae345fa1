#pragma once

#include <wchar.h>

#include <cstdint>

// The part of a name the converter has read but not yet written: a starter
// (possibly composed from several characters already) and the marks after it
// that did not compose with it. The starter waits because a later combining
// mark may still change it; glibc gives each conversion descriptor only an
// mbstate_t of eight bytes, so that is all this state may take between calls:
// 21 bits of starter, a 3-bit count and four marks of 10 bits each.
//
// Once the segment is over its starter is written first; the marks follow one
// at a time ("draining"), so that a short output buffer only ever holds up a
// single character.
class PendingSegment {
public:
    static constexpr int kMaxMarks = 4;

    static PendingSegment load(const mbstate_t& state);
    void store(mbstate_t& state) const;

    bool isEmpty() const;
    bool hasStarter() const;
    // The starter has been written; marks are still waiting.
    bool isDraining() const;

    char32_t starter() const;
    int markCount() const;
    char32_t mark(int i) const;

    // A new segment of c alone.
    void begin(char32_t starter);
    // Replaces the segment; count is at most kMaxMarks, every mark has a
    // non-zero combining class.
    void assign(char32_t starter, const char32_t* marks, int count);
    // Called once the starter has gone out.
    void starterWritten();
    // Called once mark(0) has gone out while draining.
    void frontMarkWritten();

private:
    // m_starter holds the code point plus kFirstCodePoint, or one of these,
    // so that the all-zero state glibc starts with is the empty segment.
    static constexpr uint32_t kNone = 0;
    static constexpr uint32_t kDraining = 1;
    static constexpr uint32_t kFirstCodePoint = 2;

    uint32_t m_starter = kNone;
    int m_count = 0;
    char32_t m_marks[kMaxMarks] = {};
};

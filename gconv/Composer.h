#pragma once

class PendingSegment;

// Canonical composition, one character at a time, the way names written
// decomposed (by macOS) need it: a base followed by combining marks becomes
// the composed character, and a character arriving alone stays as it is.
//
// Marks are put in canonical order and composed as Unicode's composition
// algorithm does, so a composed name and its decomposed form come out the
// same. A segment keeps at most PendingSegment::kMaxMarks marks that did not
// compose; past that it ends and later marks stand alone, as in Unicode's
// stream-safe text format.
class Composer {
public:
    enum class Action {
        Absorbed,     // c is now part of the segment
        EndSegment,   // write the segment first, then offer c again
        WriteAlone,   // c is a mark with no starter before it: write c as it is
    };

    // segment must not be draining. Changes segment only for Absorbed.
    static Action offer(PendingSegment& segment, char32_t c);

private:
    static Action offerMark(PendingSegment& segment, char32_t mark);
};

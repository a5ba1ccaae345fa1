#include "Composer.h"

#include "PendingSegment.h"
#include "UnicodeProperties.h"
#include "UnicodeTables.h"

namespace {

constexpr size_t kCapacity = 2 * UnicodeTables::kMaxDecompositionLength + PendingSegment::kMaxMarks;

// Canonical ordering: a stable sort of each run of marks by combining class.
void putInCanonicalOrder(char32_t* sequence, size_t length)
{
    for (size_t i = 1; i < length; ++i) {
        const char32_t c = sequence[i];
        const uint8_t cc = UnicodeProperties::combiningClass(c);
        if (cc == 0)
            continue;
        size_t j = i;
        while (j > 0 && UnicodeProperties::combiningClass(sequence[j - 1]) > cc) {
            sequence[j] = sequence[j - 1];
            --j;
        }
        sequence[j] = c;
    }
}

// Unicode's canonical composition of a sequence that starts with a starter.
// Leaves the composed starter first and the marks that stayed after it.
// False when a second starter would remain: that is not one segment.
bool composeInPlace(char32_t* sequence, size_t& length)
{
    size_t kept = 1;
    uint8_t lastClass = 0;
    for (size_t i = 1; i < length; ++i) {
        const char32_t c = sequence[i];
        const uint8_t cc = UnicodeProperties::combiningClass(c);
        const bool blocked = lastClass != 0 && lastClass >= cc;
        const char32_t composite = blocked ? 0 : UnicodeProperties::compose(sequence[0], c);
        if (composite != 0) {
            sequence[0] = composite;
            continue;
        }
        if (cc == 0)
            return false;
        lastClass = cc;
        sequence[kept++] = c;
    }
    length = kept;
    return true;
}

} // namespace

Composer::Action Composer::offer(PendingSegment& segment, char32_t c)
{
    if (UnicodeProperties::combiningClass(c) != 0)
        return offerMark(segment, c);
    if (!segment.hasStarter()) {
        segment.begin(c);
        return Action::Absorbed;
    }
    // A starter composes with the one before only when nothing is between.
    if (segment.markCount() == 0) {
        if (const char32_t composite = UnicodeProperties::compose(segment.starter(), c)) {
            segment.begin(composite);
            return Action::Absorbed;
        }
    }
    return Action::EndSegment;
}

Composer::Action Composer::offerMark(PendingSegment& segment, char32_t mark)
{
    if (!segment.hasStarter())
        return Action::WriteAlone;
    // Take the segment apart again, add the mark and compose it all anew:
    // marks may arrive in any order, and a composed starter may need to
    // take a mark of lower class in between its own.
    char32_t sequence[kCapacity];
    size_t length = UnicodeProperties::appendDecomposition(segment.starter(), sequence, 0);
    for (int i = 0; i < segment.markCount(); ++i)
        sequence[length++] = segment.mark(i);
    length = UnicodeProperties::appendDecomposition(mark, sequence, length);
    putInCanonicalOrder(sequence, length);
    if (!composeInPlace(sequence, length) || length - 1 > PendingSegment::kMaxMarks)
        return Action::EndSegment;
    segment.assign(sequence[0], sequence + 1, static_cast<int>(length - 1));
    return Action::Absorbed;
}

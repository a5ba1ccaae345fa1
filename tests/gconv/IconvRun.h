#pragma once

// Drives an iconv(3) descriptor as a careful program does, for the tests and
// the fuzz target alike: input in pieces, with bytes left unread (a cut
// UTF-8 sequence) put in front of the next piece, little output room per
// call, and a flush at the end.

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

struct IconvRun {
    std::string output;
    size_t replaced = 0;  // iconv's irreversible counts, of the calls that succeeded
    int error = 0;        // errno of the call that stopped; EINVAL for input cut inside a sequence
    size_t unread = 0;    // input bytes left unread at the end
    bool overran = false; // a call wrote past the room it was given
};

// Pieces of `piece` bytes; every call gets `room` bytes of output, one more
// after each E2BIG that wrote nothing.
inline IconvRun iconvRun(iconv_t cd, const std::string& input, size_t piece, size_t room)
{
    IconvRun run;
    const auto call = [&](char** in, size_t* inLeft) {
        for (size_t give = room; give <= room + 4;) {
            std::string buffer(give + 16, '\xA5');
            char* out = buffer.data();
            size_t outLeft = give;
            const size_t status = iconv(cd, in, inLeft, &out, &outLeft);
            const int error = status == size_t(-1) ? errno : 0;
            const size_t written = size_t(out - buffer.data());
            run.output.append(buffer.data(), written);
            run.overran |= written + outLeft != give || buffer.find_first_not_of('\xA5', give) != std::string::npos;
            if (error != E2BIG) {
                run.replaced += error ? 0 : status;
                return error;
            }
            give = written ? room : give + 1;
        }
        return E2BIG;
    };
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string pending;
    for (size_t next = 0; next < input.size() && (run.error == 0 || run.error == EINVAL); next += piece) {
        pending += input.substr(next, piece);
        // An exact copy on the heap, so that a read past the input shows under the address sanitizer.
        const std::unique_ptr<char[]> copy(new char[pending.size()]);
        char* in = static_cast<char*>(std::memcpy(copy.get(), pending.data(), pending.size()));
        size_t inLeft = pending.size();
        run.error = call(&in, &inLeft);
        pending.erase(0, pending.size() - inLeft);
    }
    if (run.error != 0 && run.error != EINVAL)
        return run;
    run.unread = pending.size();
    // The characters before a cut are whole, so the flush writes them too.
    const int flushed = call(nullptr, nullptr);
    run.error = flushed ? flushed : pending.empty() ? 0 : EINVAL;
    return run;
}

// The whole input in one call, with ample room.
inline IconvRun convertWhole(iconv_t cd, const std::string& input)
{
    return iconvRun(cd, input, input.size() + 1, 4 * input.size() + 16);
}

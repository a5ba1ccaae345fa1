// libFuzzer target for the UTF-8-MAC converter module, driven through
// glibc's real iconv with GCONV_PATH pointing at the fuzzing build's module
// (built with the address and undefined-behaviour sanitizers). For every
// input it checks that
// - iconv never fails but for a sequence cut at the very end (EINVAL),
// - no call writes past the room it was given (each call gets a heap buffer
//   of exactly that size),
// - input cut in pieces and output room handed out a byte or so at a time
//   give the same bytes as one call with ample room,
// - the output is valid code page 932: glibc's CP932 -> UTF-8 decodes all of
//   it, and it is never longer than the input.
// The first input byte chooses the piece size and the room; the rest is the
// name.

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t kMaxRoomWithoutProgress = 8;

[[noreturn]] void fail(const std::string& what)
{
    const std::string line = "fuzz-gconv: " + what + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) < 0) {
        // nowhere left to report to; the abort still tells
    }
    std::abort();
}

iconv_t openOrFail(const char* to, const char* from)
{
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        const char* path = getenv("GCONV_PATH");
        fail(std::string("iconv_open(\"") + to + "\", \"" + from + "\") failed; GCONV_PATH=" + (path ? path : ""));
    }
    return cd;
}

iconv_t moduleDescriptor()
{
    static const iconv_t cd = openOrFail("CP932//TRANSLIT", "UTF-8-MAC");
    return cd;
}

iconv_t decoderDescriptor()
{
    static const iconv_t cd = openOrFail("UTF-8", "CP932");
    return cd;
}

struct Conversion {
    std::string output;
    int error = 0;      // EINVAL when the input ended inside a sequence
    size_t unread = 0;  // bytes left unread then
};

// One iconv call with a buffer of exactly room bytes (in == nullptr: flush).
// Returns errno, or 0 on success.
int callWithRoom(iconv_t cd, char** in, size_t* inLeft, size_t room, std::string& output)
{
    const std::unique_ptr<char[]> buffer(new char[room]);
    char* out = buffer.get();
    size_t outLeft = room;
    errno = 0;
    const size_t status = iconv(cd, in, inLeft, &out, &outLeft);
    const int error = status == static_cast<size_t>(-1) ? errno : 0;
    const size_t written = static_cast<size_t>(out - buffer.get());
    if (written > room || written + outLeft != room)
        fail("iconv's output pointer and room disagree");
    output.append(buffer.get(), written);
    return error;
}

// Calls until the input is read or stops at a cut; on E2BIG without
// progress the room grows by one byte, after progress it starts again at
// baseRoom.
int callUntilDone(iconv_t cd, char** in, size_t* inLeft, size_t baseRoom, std::string& output)
{
    size_t room = baseRoom;
    for (;;) {
        const size_t before = output.size();
        const size_t inBefore = inLeft ? *inLeft : 0;
        const int error = callWithRoom(cd, in, inLeft, room, output);
        if (error != E2BIG)
            return error;
        const bool progress = output.size() != before || (inLeft && *inLeft != inBefore);
        room = progress ? baseRoom : room + 1;
        if (room > kMaxRoomWithoutProgress)
            fail("E2BIG with " + std::to_string(room - 1) + " bytes of room and no progress");
    }
}

Conversion convert(const uint8_t* data, size_t size, size_t pieceSize, size_t baseRoom)
{
    const iconv_t cd = moduleDescriptor();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    Conversion result;
    std::string unread;
    for (size_t next = 0; next < size; next += pieceSize) {
        unread.append(reinterpret_cast<const char*>(data) + next, std::min(pieceSize, size - next));
        // An exact copy, so that a read past the input shows too.
        const std::unique_ptr<char[]> input(new char[unread.size()]);
        unread.copy(input.get(), unread.size());
        char* in = input.get();
        size_t inLeft = unread.size();
        const int error = callUntilDone(cd, &in, &inLeft, baseRoom, result.output);
        if (error != 0 && error != EINVAL)
            fail("iconv failed with errno " + std::to_string(error));
        if (error == EINVAL && inLeft == 0)
            fail("EINVAL with all input read");
        unread = unread.substr(unread.size() - inLeft);
    }
    if (!unread.empty()) {
        result.error = EINVAL;
        result.unread = unread.size();
    }
    char* none = nullptr;
    const int error = callUntilDone(cd, &none, nullptr, baseRoom, result.output);
    if (error != 0)
        fail("the flush failed with errno " + std::to_string(error));
    return result;
}

void checkValidCp932(const std::string& bytes)
{
    const iconv_t cd = decoderDescriptor();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string copy = bytes;
    char* in = copy.data();
    size_t inLeft = copy.size();
    std::string decoded;
    const int error = callUntilDone(cd, &in, &inLeft, 4 * bytes.size() + 16, decoded);
    if (error != 0 || inLeft != 0)
        fail("output is not valid code page 932 (errno " + std::to_string(error) + ")");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("GCONV_PATH", QUILLMERE_FUZZ_GCONV_DIR, 0);
    // Load the module before fuzzing starts, so its coverage counts.
    moduleDescriptor();
    decoderDescriptor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t pieceSize = 1 + (data[0] & 7);
    const size_t baseRoom = (data[0] >> 3) & 3;
    ++data;
    --size;

    const Conversion whole = convert(data, size, size + 1, 4 * size + 16);
    const Conversion pieces = convert(data, size, pieceSize, baseRoom);
    if (pieces.output != whole.output || pieces.error != whole.error || pieces.unread != whole.unread)
        fail("pieces of " + std::to_string(pieceSize) + " with room " + std::to_string(baseRoom)
             + " differ from the whole");
    if (whole.error == EINVAL && (whole.unread == 0 || whole.unread > 3))
        fail("a cut sequence of " + std::to_string(whole.unread) + " bytes");
    if (whole.output.size() > size)
        fail("output longer than input");
    checkValidCp932(whole.output);
    return 0;
}

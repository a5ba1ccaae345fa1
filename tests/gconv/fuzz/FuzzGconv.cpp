// libFuzzer target for the UTF-8-MAC converter module, driven through
// glibc's real iconv with GCONV_PATH pointing at the fuzzing build's
// sanitized module. iconv never fails but for a sequence cut at the very end
// (EINVAL), no call writes past its room, pieces and little room give the
// bytes of one call, and the output is valid code page 932 no longer than the
// input. The first input byte chooses the piece size and the room.

#include "../IconvRun.h"

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string& what)
{
    const std::string line = "fuzz-gconv: " + what + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size()); // the abort tells anyway
    std::abort();
}

// The module's descriptor, or (for `decoder`) glibc's own CP932 to UTF-8.
iconv_t descriptor(bool decoder)
{
    static const iconv_t descriptors[2] = {iconv_open("CP932//TRANSLIT", "UTF-8-MAC"), iconv_open("UTF-8", "CP932")};
    if (descriptors[decoder] == iconv_t(-1))
        fail(decoder ? "no CP932 decoder" : "no UTF-8-MAC: is GCONV_PATH the fuzz build's gconv folder?");
    return descriptors[decoder];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("GCONV_PATH", QUILLMERE_FUZZ_GCONV_DIR, 0);
    // Load the module before fuzzing starts, so its coverage counts.
    descriptor(false);
    descriptor(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = 1 + (data[0] & 7);
    const size_t room = (data[0] >> 3) & 3;
    const std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);
    const IconvRun whole = convertWhole(descriptor(false), name);
    const IconvRun pieces = iconvRun(descriptor(false), name, piece, room);
    if (whole.overran || pieces.overran)
        fail("a call wrote past the room it was given");
    if ((whole.error != 0 && (whole.error != EINVAL || whole.unread > 3)) || pieces.error != whole.error)
        fail("iconv stopped with errno " + std::to_string(whole.error) + " / " + std::to_string(pieces.error));
    if (pieces.output != whole.output || pieces.unread != whole.unread)
        fail("pieces of " + std::to_string(piece) + " with room " + std::to_string(room) + " differ from the whole");
    if (whole.output.size() > name.size() || convertWhole(descriptor(true), whole.output).error != 0)
        fail("output longer than the input or not valid code page 932");
    return 0;
}

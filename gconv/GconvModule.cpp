// The three entry points glibc's iconv looks up in a converter module (the
// glibc manual's chapter on the iconv implementation): gconv_init when a
// descriptor needs this step, gconv for every conversion and flush, and
// gconv_end. Everything else in the module stays hidden.

#include "MacToCp932Converter.h"
#include "PendingSegment.h"

#include <gconv.h>
#include <strings.h>

#include <cstring>

#define QUILLMERE_GCONV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kFromName = "UTF-8-MAC//";
constexpr const char* kToName = "CP932//";

void addReplacements(size_t* irreversible, size_t count)
{
    // glibc's own callers always pass a counter; its internal ones may not.
    if (irreversible)
        *irreversible += count;
}

int flush(__gconv_step_data* data, size_t* irreversible)
{
    MacToCp932Converter converter(PendingSegment::load(*data->__statep), data->__outbuf, data->__outbufend);
    const int status = converter.flush();
    data->__outbuf = converter.outputPosition();
    converter.segment().store(*data->__statep);
    addReplacements(irreversible, converter.replacements());
    return status;
}

} // namespace

QUILLMERE_GCONV_EXPORT int gconv_init(__gconv_step* step)
{
    if (strcasecmp(step->__from_name, kFromName) != 0 || strcasecmp(step->__to_name, kToName) != 0)
        return __GCONV_NOCONV;
    step->__min_needed_from = 1;
    step->__max_needed_from = 4;
    step->__min_needed_to = 1;
    step->__max_needed_to = 2;
    // A base character waits in the state for marks that may follow it.
    step->__stateful = 1;
    step->__data = nullptr;
    return __GCONV_OK;
}

QUILLMERE_GCONV_EXPORT void gconv_end(__gconv_step*)
{
}

// consume_incomplete matters only where glibc converts to its internal
// wide characters (mbrtowc and kin); this module only ever writes code page
// 932, so an input cut inside a sequence is always reported as incomplete.
QUILLMERE_GCONV_EXPORT int gconv(__gconv_step*, __gconv_step_data* data, const unsigned char** inptrp,
                                 const unsigned char* inend, unsigned char** outbufstart, size_t* irreversible,
                                 int do_flush, int /*consume_incomplete*/)
{
    // glibc may put this step in front of further ones (UTF-8-MAC to CP932
    // to INTERNAL to ...), but a module built outside glibc cannot call the
    // next step: glibc keeps its function pointer mangled. Refusing such a
    // descriptor beats converting into a buffer nobody reads.
    if ((data->__flags & __GCONV_IS_LAST) == 0)
        return __GCONV_ILLEGAL_DESCRIPTOR;
    if (do_flush == 2) {
        // iconv(cd, NULL, NULL, NULL, NULL): back to the initial state.
        std::memset(data->__statep, 0, sizeof *data->__statep);
        return __GCONV_OK;
    }
    if (do_flush)
        return flush(data, irreversible);

    unsigned char* out = outbufstart ? *outbufstart : data->__outbuf;
    MacToCp932Converter converter(PendingSegment::load(*data->__statep), out, data->__outbufend);
    const unsigned char* in = *inptrp;
    const int status = converter.convert(in, inend);
    *inptrp = in;
    if (outbufstart)
        *outbufstart = converter.outputPosition();
    else
        data->__outbuf = converter.outputPosition();
    converter.segment().store(*data->__statep);
    addReplacements(irreversible, converter.replacements());
    ++data->__invocation_counter;
    return status;
}

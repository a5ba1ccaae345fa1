#include "Cp932Probe.h"

#include <cerrno>
#include <stdexcept>

Cp932Probe::Cp932Probe()
    : m_cd(iconv_open("CP932", "UTF-8"))
{
    if (m_cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("glibc's iconv has no CP932 converter");
}

Cp932Probe::~Cp932Probe()
{
    iconv_close(m_cd);
}

std::string Cp932Probe::utf8(char32_t c)
{
    std::string bytes;
    if (c < 0x80) {
        bytes += static_cast<char>(c);
    } else if (c < 0x800) {
        bytes += static_cast<char>(0xC0 | (c >> 6));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes += static_cast<char>(0xE0 | (c >> 12));
        bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (c >> 18));
        bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
    }
    return bytes;
}

std::optional<Cp932Probe::Mapping> Cp932Probe::map(char32_t c)
{
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    std::string input = utf8(c);
    char output[8];
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output;
    size_t outLeft = sizeof output;
    const size_t result = iconv(m_cd, &in, &inLeft, &out, &outLeft);
    if (result == static_cast<size_t>(-1)) {
        if (errno == EILSEQ)
            return std::nullopt;
        throw std::runtime_error("glibc's CP932 converter failed on U+" + std::to_string(static_cast<uint32_t>(c)));
    }
    const size_t length = sizeof output - outLeft;
    const auto byte = [&](size_t i) { return static_cast<uint16_t>(static_cast<unsigned char>(output[i])); };
    if (length == 0)
        return Mapping{0, 0, result > 0};
    if (length == 1)
        return Mapping{byte(0), 1, result > 0};
    if (length == 2)
        return Mapping{static_cast<uint16_t>(byte(0) << 8 | byte(1)), 2, result > 0};
    throw std::runtime_error("glibc's CP932 converter wrote " + std::to_string(length) + " bytes for U+"
                             + std::to_string(static_cast<uint32_t>(c)));
}

#include "ArchiveContent.h"

#include "ZipReader.h"

#include <fstream>
#include <iconv.h>
#include <iterator>
#include <zlib.h>

std::map<FileDigest, int> ArchiveContent::digestCounts(const std::string& archive)
{
    std::map<FileDigest, int> counts;
    for (const ZipReader::Entry& entry : ZipReader(archive).entries) {
        if (!entry.name.ends_with('/'))
            ++counts[{entry.crc32, entry.size}];
    }
    return counts;
}

FileDigest ArchiveContent::ofFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    return {static_cast<uint32_t>(crc), data.size()};
}

QString ArchiveContent::shownOnWindows(const std::string& cp932)
{
    iconv_t converter = ::iconv_open("UTF-8", "CP932");
    std::string input = cp932;
    std::string output(cp932.size() * 4 + 4, '\0');
    char* in = input.data();
    char* out = output.data();
    size_t inLeft = input.size();
    size_t outLeft = output.size();
    ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    return QString::fromUtf8(output.data(), static_cast<qsizetype>(out - output.data()));
}

#include "ArchiveCheck.h"

#include "ZipEntryFlags.h"

#include <zip.h>

#include <algorithm>
#include <memory>

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

std::string libzipError(zip_t* archive)
{
    return zip_strerror(archive);
}

// Reads the entry's data to its end: libzip compares the checksum there.
Failure readWhole(zip_t* archive, zip_uint64_t index, const std::optional<std::string>& password,
                  const std::string& name)
{
    zip_file_t* file = password ? zip_fopen_index_encrypted(archive, index, 0, password->c_str())
                                : zip_fopen_index(archive, index, 0);
    if (!file)
        return "cannot open entry " + name + ": " + libzipError(archive);
    static thread_local std::vector<char> buffer(1 << 20);
    zip_int64_t n = 0;
    while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
    }
    Failure failure;
    if (n < 0)
        failure = "entry " + name + " does not read back: " + zip_file_strerror(file);
    zip_fclose(file);
    return failure;
}

Failure checkEntry(zip_t* archive, zip_uint64_t index, const std::optional<std::string>& password,
                   std::vector<std::string>& names)
{
    const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (!raw)
        return "unnamed entry: " + libzipError(archive);
    const std::string name = raw;
    names.push_back(name);
    if (name.ends_with('/'))
        return std::nullopt;
    zip_stat_t info;
    zip_stat_init(&info);
    if (zip_stat_index(archive, index, 0, &info) != 0)
        return "cannot read entry " + name + ": " + libzipError(archive);
    if (password && info.encryption_method == ZIP_EM_NONE)
        return "entry " + name + " is not encrypted";
    return readWhole(archive, index, password, name);
}

} // namespace

Failure ArchiveCheck::verify(const std::string& archivePath, const std::vector<std::string>& expectedEntries,
                             const std::optional<std::string>& password)
{
    int error = 0;
    Archive archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_error_t description;
        zip_error_init_with_code(&description, error);
        const std::string text = "not a readable archive: " + archivePath + ": " + zip_error_strerror(&description);
        zip_error_fini(&description);
        return text;
    }
    if (Failure flags = ZipEntryFlags::checkNoUtf8Names(archivePath))
        return flags;
    std::vector<std::string> names;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (Failure failure = checkEntry(archive.get(), static_cast<zip_uint64_t>(i), password, names))
            return failure;
    }
    std::vector<std::string> expected = expectedEntries;
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    if (names != expected)
        return "the archive holds " + std::to_string(names.size()) + " entries where " + std::to_string(expected.size())
            + " were expected, or under other names: " + archivePath;
    return std::nullopt;
}

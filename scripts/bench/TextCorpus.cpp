#include "TextCorpus.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

const uint64_t kMachineLimitBytes = 64ull << 20;
const uint64_t kLargestFileBytes = 4ull << 20;

bool compressed(const fs::path& file)
{
    static const char* const extensions[] = {".gz", ".bz2", ".xz", ".zst", ".zip", ".png", ".jpg", ".gif", ".pdf"};
    const std::string extension = file.extension().string();
    return std::find(std::begin(extensions), std::end(extensions), extension) != std::end(extensions);
}

std::vector<fs::path> candidates(const std::vector<std::string>& roots)
{
    std::vector<fs::path> files;
    for (const std::string& root : roots) {
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code statError;
            if (it->is_regular_file(statError) && !it->is_symlink(statError) && !compressed(it->path())
                && it->file_size(statError) <= kLargestFileBytes)
                files.push_back(it->path());
        }
    }
    // Headers and documentation mixed, the same way on every run.
    std::sort(files.begin(), files.end());
    std::shuffle(files.begin(), files.end(), std::mt19937_64(11));
    return files;
}

std::string textOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string content(std::istreambuf_iterator<char>(in), {});
    return content.find('\0') == std::string::npos ? content : std::string();
}

} // namespace

const TextCorpus& TextCorpus::machine()
{
    static const TextCorpus corpus({"/usr/include", "/usr/share/doc"}, kMachineLimitBytes);
    return corpus;
}

TextCorpus::TextCorpus(const std::vector<std::string>& roots, uint64_t limitBytes)
    : m_roots(roots)
{
    for (const fs::path& file : candidates(roots)) {
        if (m_text.size() >= limitBytes)
            break;
        const std::string text = textOf(file);
        if (text.empty())
            continue;
        m_text += text;
        ++m_files;
    }
}

std::string TextCorpus::description() const
{
    std::string roots;
    for (const std::string& root : m_roots)
        roots += (roots.empty() ? "" : ", ") + root;
    return std::to_string(m_text.size() >> 20) + " MB of text from " + std::to_string(m_files) + " files in "
        + roots;
}

size_t TextCorpus::randomPlace(std::mt19937_64& random) const
{
    return m_text.empty() ? 0 : static_cast<size_t>(random() % m_text.size());
}

void TextCorpus::copy(size_t& place, char* out, size_t length) const
{
    if (m_text.empty())
        return;
    while (length > 0) {
        place %= m_text.size();
        const size_t take = std::min(length, m_text.size() - place);
        std::memcpy(out, m_text.data() + place, take);
        out += take;
        length -= take;
        place += take;
    }
}

#include "ArchiveTools.h"

#include <QProcess>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sys/stat.h>

namespace {

std::vector<std::string> listWithDots(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names.push_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

void walk(const std::string& folder, const std::string& pathName, std::vector<std::string>& out)
{
    const std::vector<std::string> names = listWithDots(folder);
    const bool noVisible = std::none_of(names.begin(), names.end(),
                                        [](const std::string& n) { return !n.empty() && n[0] != '.'; });
    for (const std::string& name : names) {
        if (name == ".")
            continue;
        if (name == "..") {
            if (noVisible)
                out.push_back(pathName + "/");
            continue;
        }
        const std::string full = folder + "/" + name;
        const std::string entryName = pathName + "/" + name;
        struct stat info {};
        if (::lstat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            walk(full, entryName, out);
            continue;
        }
        if (::stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode)
            && entryName.find(".DS_Store") == std::string::npos)
            out.push_back(entryName);
    }
}

} // namespace

// word in single quotes for /bin/sh.
std::string quoted(const std::string& word)
{
    std::string result = "'";
    for (const char c : word)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// The command goes to the shell on standard input: arguments of QProcess
// pass through QString and would lose bytes that are not UTF-8.
ArchiveTools::Result ArchiveTools::unzipTest(const std::string& archive, const std::optional<std::string>& password)
{
    // "-P" with the password in the same word: unzip would take a separate
    // password that starts with "-" for an option.
    const std::string command = "exec unzip " + (password ? quoted("-P" + *password) + " " : std::string()) + "-t "
        + quoted(archive) + " 2>&1\n";
    QProcess sh;
    sh.start("/bin/sh", {"-s"});
    sh.write(QByteArray::fromStdString(command));
    sh.closeWriteChannel();
    if (!sh.waitForFinished(300000))
        return {-1, "unzip did not finish"};
    return {sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1, sh.readAll().toStdString()};
}

bool ArchiveTools::converterModuleBuilt()
{
    const char* build = std::getenv("QUILLMERE_BUILD_DIR");
    return build && std::filesystem::exists(std::string(build) + "/gconv/gconv-modules");
}

std::string ArchiveTools::converterModuleMissingReason()
{
    return "the UTF-8-MAC converter module is not built (no <build>/gconv/gconv-modules): php cannot convert "
           "entry names yet, so names and folder entries cannot be checked";
}

std::string ArchiveTools::cp932(const std::string& utf8)
{
    const std::string composed = QString::fromStdString(utf8).normalized(QString::NormalizationForm_C).toStdString();
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "no CP932 converter";
    std::string in = composed;
    std::string out(in.size() * 2 + 8, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t done = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (done == static_cast<size_t>(-1))
        return "not convertible: " + utf8;
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<std::string> ArchiveTools::writerEntryOrder(const std::string& contentFolder)
{
    std::vector<std::string> out;
    walk(contentFolder, "archive", out);
    return out;
}

std::string ArchiveTools::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ArchiveTools::writeFile(const std::string& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

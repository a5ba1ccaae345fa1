#include "ContentBuilder.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PathText.h"
#include "Util.h"
#include "WindowsName.h"

#include <QString>

#include <cerrno>
#include <dirent.h>
#include <glob.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kDsStore = ".DS_Store";

LeftOutReason reasonFor(int error)
{
    switch (error) {
    case ENOENT:
        return LeftOutReason::Missing;
    case ELOOP:
        return LeftOutReason::LinkLoop;
    default:
        return LeftOutReason::Unreadable;
    }
}

// The writer asks glob() whether a folder holds visible names; the same
// question gives the same answer, odd names with "[" included.
std::string globEscaped(const std::string& path)
{
    std::string escaped;
    for (char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string composed(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))
        .normalized(QString::NormalizationForm_C)
        .toStdString();
}

std::string below(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

} // namespace

ContentBuilder::ContentBuilder(const WorkFolders& folders, std::function<bool()> abandoned)
    : m_folders(folders)
    , m_abandoned(std::move(abandoned))
{
}

StagedContent ContentBuilder::build(const std::vector<std::string>& items)
{
    m_content = {};
    struct stat work {};
    if (::stat(m_folders.tmpDirectory().c_str(), &work) == 0)
        m_workFolder = {work.st_dev, work.st_ino};
    if (Failure error = FileManager::createDirectory(m_folders.contentFolder(), 0700))
        Log::line(LogPrefix::kCreateDir + *error);
    std::vector<Item> topLevel;
    std::set<std::pair<dev_t, ino_t>> given;
    for (const std::string& path : items) {
        const std::string name = PathText::lastComponent(path);
        std::optional<Item> item = examine(path, name, name, {});
        if (!item)
            continue;
        if (!given.emplace(item->device, item->inode).second) {
            leaveOut(path, LeftOutReason::SameItem, "given more than once");
            continue;
        }
        topLevel.push_back(*item);
    }
    stageAll(topLevel, {}, {}, {});
    expectEmptyFolderEntry({});
    return m_content;
}

std::optional<ContentBuilder::Item> ContentBuilder::examine(const std::string& source, const std::string& original,
                                                            const std::string& ownName, const FolderIds& ancestors)
{
    struct stat link {};
    if (::lstat(source.c_str(), &link) != 0) {
        leaveOut(source, reasonFor(errno), describeErrno(errno, source));
        return std::nullopt;
    }
    struct stat info = link;
    if (S_ISLNK(link.st_mode) && ::stat(source.c_str(), &info) != 0) {
        // A link is archived as what it leads to; one that leads nowhere
        // has nothing to give.
        const LeftOutReason reason = errno == ENOENT ? LeftOutReason::DanglingLink : reasonFor(errno);
        leaveOut(source, reason, describeErrno(errno, source));
        return std::nullopt;
    }
    Item item{source, original, ownName, S_ISDIR(info.st_mode), info.st_dev, info.st_ino, info.st_size};
    if (!item.isFolder && !S_ISREG(info.st_mode)) {
        leaveOut(source, LeftOutReason::SpecialFile, "not a regular file: " + source);
        return std::nullopt;
    }
    // The work folder itself is met when the home folder is given: it holds
    // the very tree being built, which would otherwise copy itself for ever.
    if (item.isFolder && isWorkFolder(info)) {
        return std::nullopt;
    }
    if (item.isFolder && ancestors.count({info.st_dev, info.st_ino})) {
        leaveOut(source, LeftOutReason::LinkLoop, "leads back into a folder above it: " + source);
        return std::nullopt;
    }
    // php opens every file when it closes the archive: one it cannot read
    // would spoil the whole archive, so it stays out.
    if (::access(source.c_str(), item.isFolder ? R_OK | X_OK : R_OK) != 0) {
        leaveOut(source, LeftOutReason::Unreadable, describeErrno(errno, source));
        return std::nullopt;
    }
    return item;
}

bool ContentBuilder::isWorkFolder(const struct stat& info) const
{
    return m_workFolder == std::pair(info.st_dev, info.st_ino);
}

std::vector<ContentBuilder::Item> ContentBuilder::listFolder(const Item& folder, const FolderIds& ancestors)
{
    std::vector<Item> children;
    DIR* dir = ::opendir(folder.source.c_str());
    if (!dir) {
        leaveOut(folder.source, reasonFor(errno), describeErrno(errno, folder.source));
        return children;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string source = PathText::join(folder.source, name);
        if (std::optional<Item> child = examine(source, folder.original + "/" + name, name, ancestors))
            children.push_back(*child);
    }
    ::closedir(dir);
    return children;
}

std::string ContentBuilder::shown(const std::string& name) const
{
    return m_converter.toUtf8(m_converter.fromFileName(name).value_or(name));
}

std::vector<ContentBuilder::Placed> ContentBuilder::placeNames(const std::vector<Item>& siblings) const
{
    std::vector<Placed> placed;
    std::set<std::string> taken;
    std::vector<bool> first;
    for (const Item& item : siblings) {
        const std::string fixedName = Util::replaceProhibitedCharacters(item.ownName);
        placed.push_back({fixedName, shown(fixedName), 1});
        // The first of the names Windows takes for one keeps it.
        first.push_back(taken.insert(WindowsName::sameFileKey(placed.back().shownName)).second);
    }
    for (size_t i = 0; i < siblings.size(); ++i) {
        if (first[i])
            continue;
        Placed& name = placed[i];
        const std::string fixedName = name.fixedName;
        const std::string shownName = name.shownName;
        for (int n = 2;; ++n) {
            const std::string candidate = WindowsName::numbered(shownName, n, siblings[i].isFolder);
            if (taken.insert(WindowsName::sameFileKey(candidate)).second) {
                name = {WindowsName::numbered(fixedName, n, siblings[i].isFolder), candidate, n};
                break;
            }
        }
    }
    return placed;
}

void ContentBuilder::stageAll(const std::vector<Item>& siblings, const std::string& relative,
                              const std::string& relativeShown, const FolderIds& ancestors)
{
    std::vector<Item> kept;
    for (const Item& item : siblings) {
        // The files the system leaves in folders are not the user's and
        // never go into the archive.
        if (!item.isFolder && item.ownName == kDsStore)
            continue;
        kept.push_back(item);
    }
    const std::vector<Placed> names = placeNames(kept);
    for (size_t i = 0; i < kept.size() && !m_abandoned(); ++i)
        stageOne(kept[i], names[i], relative, relativeShown, ancestors);
}

void ContentBuilder::stageOne(const Item& item, const Placed& placed, const std::string& relative,
                              const std::string& relativeShown, const FolderIds& ancestors)
{
    const std::string path = below(relative, placed.fixedName);
    const std::string pathShown = below(relativeShown, placed.shownName);
    const std::string entry = std::string(WorkFolders::CONTENT_DIR_NAME) + "/" + path;
    const std::string target = m_folders.contentFolder() + "/" + path;
    if (item.isFolder) {
        if (Failure error = FileManager::createDirectory(target, 0700)) {
            Log::line(LogPrefix::kFixNames + *error + LogPrefix::kErrorFileName + item.original);
            leaveOut(item.source, LeftOutReason::CopyFailed, *error);
            return;
        }
        ++m_content.report.folderCount;
        noteName(item, placed, pathShown);
        FolderIds inside = ancestors;
        inside.emplace(item.device, item.inode);
        stageAll(listFolder(item, inside), path, pathShown, inside);
        expectEmptyFolderEntry(path);
        return;
    }
    // The writer leaves out every file whose path holds ".DS_Store".
    if (entry.find(kDsStore) != std::string::npos) {
        leaveOut(item.source, LeftOutReason::ExcludedName, "its path in the archive holds .DS_Store: " + entry);
        return;
    }
    if (Failure error = FileManager::linkOrCopyFile(item.source, target)) {
        Log::line(LogPrefix::kFixNames + *error + LogPrefix::kErrorFileName + item.original);
        leaveOut(item.source, LeftOutReason::CopyFailed, *error);
        return;
    }
    ++m_content.report.fileCount;
    m_content.totalBytes += static_cast<uint64_t>(item.size);
    m_content.expectedEntries.push_back(m_converter.fromFileName(entry).value_or(entry));
    noteName(item, placed, pathShown);
}

void ContentBuilder::noteName(const Item& item, const Placed& placed, const std::string& pathShown)
{
    JobReport& report = m_content.report;
    if (placed.shownName != composed(item.ownName)) {
        const std::string fixedName = Util::replaceProhibitedCharacters(item.ownName);
        RenamedItem renamed;
        renamed.original = item.original;
        renamed.inArchive = pathShown;
        renamed.replacedCharacters = fixedName != item.ownName;
        renamed.transliterated = shown(fixedName) != composed(fixedName);
        renamed.numbered = placed.number > 1;
        report.renamed.push_back(renamed);
    }
    if (std::optional<WindowsWarning> warning = WindowsName::componentWarning(placed.shownName))
        report.warnings.push_back({pathShown, *warning});
    else if (WindowsName::isTooLong(std::string(WorkFolders::CONTENT_DIR_NAME) + "/" + pathShown))
        report.warnings.push_back({pathShown, WindowsWarning::PathTooLong});
}

void ContentBuilder::expectEmptyFolderEntry(const std::string& relative)
{
    const std::string entry = std::string(WorkFolders::CONTENT_DIR_NAME) + "/" + (relative.empty() ? "" : relative + "/");
    const std::string pattern = globEscaped(m_folders.outputFolder()) + "/" + entry + "/*";
    glob_t found {};
    const int result = ::glob(pattern.c_str(), 0, nullptr, &found);
    const size_t visible = result == 0 ? found.gl_pathc : 0;
    ::globfree(&found);
    if (visible == 0)
        m_content.expectedEntries.push_back(m_converter.fromFileName(entry).value_or(entry));
}

void ContentBuilder::leaveOut(const std::string& path, LeftOutReason reason, const std::string& detail)
{
    m_content.report.leftOut.push_back({path, reason, detail});
}

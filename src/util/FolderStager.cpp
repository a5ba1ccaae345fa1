#include "FolderStager.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "NameSubstitutes.h"
#include "PathText.h"
#include "Utf8Sequence.h"
#include "Util.h"
#include "WindowsName.h"
#include "WorkJournal.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>

namespace {

const char* const kDsStore = ".DS_Store";
constexpr uint32_t kDosFolder = 0x10;

// name numbered n, its stem cut (never inside a character) so that the
// whole fits in NAME_MAX bytes.
std::string numberedWithin(const std::string& name, int n, bool isFolder)
{
    auto [stem, extension] = isFolder ? std::pair(name, std::string()) : PathText::splitExtension(name);
    const size_t room = NAME_MAX - std::min<size_t>(NAME_MAX, WindowsName::numbered("", n, true).size() + extension.size());
    return WindowsName::numbered(Utf8Sequence::prefixWithin(stem, room), n, true) + extension;
}

// name with "_" for a character cut short at its end ("a" and the first
// byte of "é"). The converter turns bytes that are no character into "_",
// but for those at the end it waits for the rest, which never comes: the
// writer then takes the whole path unconverted.
std::string withEndCompleted(const std::string& name)
{
    const std::size_t cut = Utf8Sequence::cutAt(name);
    return cut == name.size() ? name : name.substr(0, cut) + "_";
}

// name with "_" for the dot of each ".DS_Store" in it.
std::string withoutExcludedText(std::string name)
{
    for (size_t at = name.find(kDsStore); at != std::string::npos; at = name.find(kDsStore, at + 1))
        name[at] = '_';
    return name;
}

LeftOutReason reasonFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: // a path through a file: nothing is there
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

// The name the writer gives what lies at path in the content folder.
std::string entryName(const std::string& path)
{
    return std::string(WorkFolders::CONTENT_DIR_NAME) + "/" + path;
}

std::string composed(const std::string& utf8)
{
    return Utf8Sequence::decoded(utf8)
        .normalized(QString::NormalizationForm_C)
        .toStdString();
}

} // namespace

FolderStager::FolderStager(const WorkFolders& folders, FolderIds workFolders,
                           std::function<bool()> abandoned, Schedule schedule, WorkFolderFailed workFolderFailed,
                           std::atomic<unsigned>& anchorCount)
    : m_folders(folders)
    , m_outputFolderSize(folders.outputFolder().size())
    , m_workFolders(std::move(workFolders))
    , m_abandoned(std::move(abandoned))
    , m_schedule(std::move(schedule))
    , m_workFolderFailed(std::move(workFolderFailed))
    , m_anchorCount(anchorCount)
{
}

void FolderStager::stageGiven(const std::vector<std::string>& items, const OpenFolder& content)
{
    const std::shared_ptr<const OpenFolder> working = OpenFolder::working();
    std::vector<Item> topLevel;
    // An item is its name in its folder: hard links and links given by
    // their own names are items of their own, as they are inside a folder.
    std::set<std::string> given;
    // Each path given again is told once, however often it was given.
    std::set<std::string> toldAgain;
    for (const std::string& path : items) {
        const std::string name = PathText::lastComponent(path);
        if (isSystemItem(path)) {
            leaveOut(path, LeftOutReason::SystemItem, "part of the running system, not a user's file: " + path);
            continue;
        }
        // What jobs make and record there is not the user's either.
        if (m_folders.holds(path)) {
            leaveOut(path, LeftOutReason::WorkFolder, "in the work folder of this program: " + path);
            continue;
        }
        std::optional<Item> item = examine({working, path, path, name, name, true}, {}, true);
        if (!item)
            continue;
        // Inside folders they go without a word; one the user named is
        // reported.
        if (!item->isFolder && name == kDsStore) {
            leaveOut(path, LeftOutReason::ExcludedName, "a .DS_Store file: " + path);
            continue;
        }
        const std::string folder = PathText::parentFolder(path);
        if (!given.insert(PathText::real(folder).value_or(folder) + "/" + name).second) {
            if (toldAgain.insert(path).second)
                leaveOut(path, LeftOutReason::SameItem, "given more than once");
            continue;
        }
        topLevel.push_back(*item);
    }
    // The folder all items are in is the job's own: it is made now, and
    // opened to no one else's writing.
    FolderTask top;
    top.mode = S_IFDIR | 0755;
    top.modified = ::time(nullptr);
    expectEmptyFolderEntry(top, stageAll(topLevel, content, {}, {}, {}));
}

void FolderStager::stageContent(const FolderTask& task)
{
    const std::shared_ptr<const OpenFolder> target = OpenFolder::open(*OpenFolder::working(), task.target, task.target);
    if (!target) {
        const int error = errno;
        const std::string description = describeErrno(error, task.target);
        failWorkFolder(error, description, LogPrefix::kFixNames + description);
        return;
    }
    expectEmptyFolderEntry(task, stageAll(listFolder(task), *target, task.relative, task.relativeShown, task.inside));
}

std::optional<FolderStager::Item> FolderStager::examine(Item item, const FolderIds& ancestors, bool given)
{
    const int folder = item.parent->fd();
    const char* const name = item.at.c_str();
    const std::string& source = item.source;
    struct stat link {};
    if (::fstatat(folder, name, &link, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        // What the user gave may be missing from the start; what its
        // folder's listing named was there a moment ago.
        if ((!given && tellIfGone(source, error)) || failsAtSystemLimit(error, source))
            return std::nullopt;
        leaveOut(source, reasonFor(error), describeErrno(error, source));
        return std::nullopt;
    }
    struct stat info = link;
    if (S_ISLNK(link.st_mode) && ::fstatat(folder, name, &info, 0) != 0) {
        if (failsAtSystemLimit(errno, source))
            return std::nullopt;
        // A link is archived as what it leads to; one that leads nowhere
        // has nothing to give.
        const LeftOutReason reason = reasonFor(errno) == LeftOutReason::Missing ? LeftOutReason::DanglingLink
                                                                                  : reasonFor(errno);
        leaveOut(source, reason, describeErrno(errno, source));
        return std::nullopt;
    }
    item.isFolder = S_ISDIR(info.st_mode);
    // The archive holds no links. A link to a folder would bring in a tree
    // from anywhere (a link to "/" brings the whole system): only a link the
    // user gave is followed, once.
    if (item.isFolder && S_ISLNK(link.st_mode) && !given) {
        leaveOut(source, LeftOutReason::LinkToFolder, "a link to a folder: " + source);
        return std::nullopt;
    }
    // A link may lead into the running system's own files, of which some
    // never end (/proc/kmsg) and some tell about their reader
    // (/proc/self/status): none is the user's. So may what is mounted in
    // a folder (/proc bound into a container's tree), which alone lies on
    // another device than its folder.
    const bool mounted = info.st_dev != item.parent->device();
    if ((S_ISLNK(link.st_mode) || mounted) && item.parent->leadsIntoSystem(item.at)) {
        leaveOut(source, LeftOutReason::SystemItem, "leads into the running system: " + source);
        return std::nullopt;
    }
    item.device = info.st_dev;
    item.inode = info.st_ino;
    item.size = info.st_size;
    item.mode = info.st_mode;
    item.modified = info.st_mtim;
    if (!item.isFolder && !S_ISREG(info.st_mode)) {
        leaveOut(source, LeftOutReason::SpecialFile, "not a regular file: " + source);
        return std::nullopt;
    }
    // Another job's archive on its way into this folder is half written,
    // and goes away under the job's feet; one a killed job left is removed
    // at the next start. Either is the program's, not the user's. Only a
    // part file itself, never a link to one, has that name.
    if (S_ISREG(link.st_mode) && WorkJournal::isPartName(item.ownName)) {
        leaveOut(source, LeftOutReason::PartFile, "the hidden part file of a job of this program: " + source);
        return std::nullopt;
    }
    // The work folders are met when the home folder or the runtime folder is
    // given: they hold the very tree being built, which would otherwise copy
    // itself for ever.
    if (item.isFolder && m_workFolders.count({info.st_dev, info.st_ino})) {
        return std::nullopt;
    }
    if (item.isFolder && ancestors.count({info.st_dev, info.st_ino})) {
        leaveOut(source, LeftOutReason::LinkLoop, "leads back into a folder above it: " + source);
        return std::nullopt;
    }
    // php opens every file when it closes the archive: one it cannot read
    // would spoil the whole archive, so it stays out.
    const int access = item.isFolder ? R_OK | X_OK : R_OK;
    if (!ownerMayRead(*item.parent, info, access) && ::faccessat(folder, name, access, 0) != 0) {
        if (!failsAtSystemLimit(errno, source))
            leaveOut(source, LeftOutReason::Unreadable, describeErrno(errno, source));
        return std::nullopt;
    }
    return item;
}

bool FolderStager::ownerMayRead(const OpenFolder& folder, const struct stat& info, int access) const
{
    // Where the kernel's generic check decides, the owner's bits of the
    // mode answer for the owner, ACLs or not: the question costs no call.
    // Anything else is asked of the kernel.
    const mode_t needed = ((access & R_OK) ? S_IRUSR : 0) | ((access & X_OK) ? S_IXUSR : 0);
    return folder.hasLocalPermissions() && info.st_uid == m_user && (info.st_mode & needed) == needed;
}

std::vector<FolderStager::Item> FolderStager::listFolder(const FolderTask& task)
{
    std::vector<Item> children;
    const std::shared_ptr<const OpenFolder> opened = OpenFolder::open(*OpenFolder::working(), task.source, task.source);
    const int listing = opened ? ::fcntl(opened->fd(), F_DUPFD_CLOEXEC, 0) : -1;
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        // It could be read when it was staged: it went, or became another,
        // since. Its staged folder would be an empty folder in the archive.
        const int error = errno;
        if (failsAtSystemLimit(error, task.source)) {
            if (listing >= 0)
                ::close(listing);
            return children;
        }
        if (m_content.changedItem.empty())
            m_content.changedItem = kChangedWhileRunning + task.source
                + " (the folder could not be listed: " + std::strerror(error) + ")";
        if (listing >= 0)
            ::close(listing);
        return children;
    }
    // The running system's own file systems are not the user's files, and
    // some of their files never end.
    if (opened->isSystemFileSystem()) {
        ::closedir(dir);
        leaveOut(task.source, LeftOutReason::SystemItem, "part of the running system: " + task.source);
        return children;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (m_abandoned())
            break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        Item child{opened, name, PathText::join(task.source, name), task.original + "/" + name, name};
        if (std::optional<Item> examined = examine(std::move(child), task.inside, false))
            children.push_back(std::move(*examined));
    }
    ::closedir(dir);
    inPlacingOrder(children);
    return children;
}

void FolderStager::inPlacingOrder(std::vector<Item>& siblings)
{
    // Of two names Windows takes for one, the first placed keeps it. The
    // file system lists a folder in an order of its own (a hash of the
    // names on ext4): the same tree would come out numbered differently
    // from disk to disk. A composed name comes first, as Windows would
    // write it itself, and then the byte order: "A.txt" before "a.txt".
    const auto decomposed = [](const Item& item) {
        const bool ascii = std::ranges::all_of(item.ownName, [](char c) { return (c & 0x80) == 0; });
        return !ascii && composed(item.ownName) != item.ownName;
    };
    std::vector<std::pair<bool, Item>> keyed;
    keyed.reserve(siblings.size());
    for (Item& item : siblings)
        keyed.emplace_back(decomposed(item), std::move(item));
    std::ranges::sort(keyed, [](const auto& a, const auto& b) {
        return a.first != b.first ? b.first : a.second.ownName < b.second.ownName;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        siblings[i] = std::move(keyed[i].second);
}

std::string FolderStager::shown(const std::string& name) const
{
    return m_converter.toUtf8(m_converter.fromFileName(name).value_or(name));
}

FolderStager::Placed FolderStager::ruledName(const std::string& ownName) const
{
    Placed name;
    const std::string replaced = Util::replaceProhibitedCharacters(withEndCompleted(ownName));
    const std::string substituted = NameSubstitutes::apply(replaced);
    name.fixedName = WindowsName::creatable(substituted);
    name.shownName = shown(name.fixedName);
    name.replacedCharacters = replaced != ownName;
    name.substituted = substituted != replaced;
    name.madeCreatable = name.fixedName != substituted;
    // Most names convert to themselves: only the others need composing.
    // Windows may read a letter back under its canonical twin (U+00C5 as
    // the angstrom sign): the same letter, no change.
    name.transliterated = name.shownName != name.fixedName && composed(name.shownName) != composed(name.fixedName);
    // The conversion can itself make a name Windows refuses: "CÖN.txt"
    // reads "CON.txt", "nül" reads "nul", "a≮b" reads "a<b". The rules then
    // go by the name as converted, and the staged name is that name: one
    // that lost its first character (an accent alone: ".txt") numbers its
    // twins as Windows will read it.
    if (name.transliterated) {
        const std::string replacedShown = Util::replaceProhibitedCharacters(name.shownName);
        const std::string creatableShown = WindowsName::creatable(replacedShown);
        name.replacedCharacters = name.replacedCharacters || replacedShown != name.shownName;
        name.madeCreatable = name.madeCreatable || creatableShown != replacedShown;
        name.fixedName = creatableShown;
        name.shownName = shown(name.fixedName);
    }
    return name;
}

FolderStager::Placed FolderStager::shortenedName(const std::string& ownName) const
{
    const auto [stem, extension] = PathText::splitExtension(ownName);
    // Where the stem may end: after a whole character, not before a mark
    // that goes with the one before it.
    std::vector<std::size_t> ends;
    for (std::size_t at = 0; at < stem.size();) {
        const auto [code, length] = Utf8Sequence::at(stem, at);
        const bool joinsPrevious = (code >= 0x0300 && code <= 0x036F) || code == 0x3099 || code == 0x309A
            || (code >= 0xFE00 && code <= 0xFE0F) || (code >= 0xE0100 && code <= 0xE01EF);
        if (joinsPrevious && !ends.empty())
            ends.pop_back();
        at += std::max<std::size_t>(length, 1);
        ends.push_back(at);
    }
    // The most characters whose name fits; the name grows with each.
    Placed best;
    std::size_t low = 1;
    std::size_t high = ends.size();
    while (low <= high && high > 0) {
        const std::size_t middle = low + (high - low) / 2;
        Placed candidate = ruledName(stem.substr(0, ends[middle - 1]) + extension);
        if (candidate.fixedName.size() <= NAME_MAX) {
            best = std::move(candidate);
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    if (!best.fixedName.empty())
        return best;
    // Not even one character fits beside the extension: its bytes are cut.
    Placed name = ruledName(ownName);
    name.fixedName = WindowsName::creatable(Utf8Sequence::nameWithin(name.fixedName, NAME_MAX));
    name.shownName = shown(name.fixedName);
    return name;
}

FolderStager::Placed FolderStager::nameFor(const std::string& givenName) const
{
    const std::string ownName = m_converter.readable(givenName);
    Placed name = ruledName(ownName);
    // A name grows with its reading (a kana takes three bytes in UTF-8, two
    // in code page 932) and its stand-ins ("©" is "(C)", "ゔ" is "う゛"),
    // past what a file system holds, and past what Windows holds as well.
    // Its stem gives way, never inside a character or its stand-in; cut,
    // the name still reads as the sender wrote it.
    if (name.fixedName.size() > NAME_MAX) {
        name = shortenedName(ownName);
        name.shortened = true;
    }
    name.readAsJapanese = ownName != givenName;
    // The writer leaves out every file whose path holds ".DS_Store", meant
    // for the file the system leaves in folders: that file stays out before
    // it is named. Any other name, a folder's too, keeps its files in the
    // archive with "_" for the dot.
    if (name.fixedName.find(kDsStore) != std::string::npos) {
        name.fixedName = withoutExcludedText(name.fixedName);
        name.shownName = shown(name.fixedName);
        name.keptFromExclusion = true;
    }
    name.changed = name.replacedCharacters || name.substituted || name.madeCreatable || name.transliterated
        || name.readAsJapanese || name.shortened || name.keptFromExclusion;
    return name;
}

std::vector<FolderStager::Placed> FolderStager::placeNames(const std::vector<Item>& siblings) const
{
    std::vector<Placed> placed;
    for (const Item& item : siblings)
        placed.push_back(nameFor(item.ownName));
    // Unchanged names claim theirs first, so that a sibling changed into
    // the same name never takes it from them; among each kind the first
    // of the names Windows takes for one keeps it.
    std::set<std::string> taken;
    std::vector<bool> settled(siblings.size(), false);
    for (const bool changed : {false, true}) {
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (placed[i].changed == changed)
                settled[i] = taken.insert(WindowsName::sameFileKey(placed[i].shownName)).second;
        }
    }
    for (size_t i = 0; i < siblings.size(); ++i) {
        if (settled[i])
            continue;
        Placed& name = placed[i];
        const std::string fixedName = name.fixedName;
        const std::string shownName = name.shownName;
        for (int n = 2;; ++n) {
            std::string fixedCandidate = WindowsName::numbered(fixedName, n, siblings[i].isFolder);
            std::string candidate = WindowsName::numbered(shownName, n, siblings[i].isFolder);
            // A name that fitted keeps fitting with its number: its stem
            // gives way.
            if (fixedCandidate.size() > NAME_MAX && fixedName.size() <= NAME_MAX) {
                fixedCandidate = numberedWithin(fixedName, n, siblings[i].isFolder);
                candidate = shown(fixedCandidate);
            }
            if (taken.insert(WindowsName::sameFileKey(candidate)).second) {
                name.fixedName = fixedCandidate;
                name.shownName = candidate;
                name.number = n;
                name.changed = true;
                break;
            }
        }
    }
    return placed;
}

bool FolderStager::stageAll(const std::vector<Item>& siblings, const OpenFolder& target, const std::string& relative,
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
    bool placedVisible = false;
    for (size_t i = 0; i < kept.size() && !m_abandoned(); ++i) {
        const std::string path = PathText::below(relative, names[i].fixedName);
        const std::string pathShown = PathText::below(relativeShown, names[i].shownName);
        // Kept as a guard: a name is cut to fit where it is named.
        if (names[i].fixedName.size() > NAME_MAX) {
            leaveOut(kept[i].source, LeftOutReason::NameTooLong,
                     "its changed name would have " + std::to_string(names[i].fixedName.size())
                         + " bytes, more than a file name may have (" + std::to_string(NAME_MAX)
                         + "): " + kept[i].source);
            continue;
        }
        if (isTooLongForWriter(path)) {
            leaveOut(kept[i].source, LeftOutReason::PathTooLong,
                     "its path in the archive has " + std::to_string(entryName(path).size()) + " bytes: " + kept[i].source);
            continue;
        }
        const bool placed = kept[i].isFolder ? stageFolder(kept[i], names[i], target, path, pathShown, ancestors)
                                             : stageFile(kept[i], names[i], target, path, pathShown);
        placedVisible = placedVisible || (placed && !names[i].fixedName.starts_with('.'));
    }
    return placedVisible;
}

bool FolderStager::stageFolder(const Item& item, const Placed& placed, const OpenFolder& target,
                                 const std::string& path, const std::string& pathShown, const FolderIds& ancestors)
{
    // A folder that cannot be read is left out whole: made empty, it would
    // stand in the archive for files it never gave. So is a mount of the
    // running system's own (/proc bound into a container's tree).
    const std::shared_ptr<const OpenFolder> opened = OpenFolder::open(*item.parent, item.at, item.source);
    if (!opened) {
        const int error = errno;
        if (tellIfGone(item.source, error) || failsAtSystemLimit(error, item.source))
            return false;
        leaveOut(item.source, reasonFor(error), describeErrno(error, item.source));
        return false;
    }
    if (opened->isSystemFileSystem()) {
        leaveOut(item.source, LeftOutReason::SystemItem, "part of the running system: " + item.source);
        return false;
    }
    const std::string targetPath = target.pathOf(placed.fixedName);
    if (::mkdirat(target.fd(), placed.fixedName.c_str(), 0700) != 0) {
        const int error = errno;
        const std::string description = describeErrno(error, targetPath);
        const std::string line = LogPrefix::kFixNames + description + LogPrefix::kErrorFileName + item.original;
        if (error == EEXIST) {
            Log::line(line);
            leaveOut(item.source, LeftOutReason::CopyFailed, description);
        } else {
            failWorkFolder(error, description, line);
        }
        return false;
    }
    ++m_content.report.folderCount;
    noteName(item, placed, pathShown);
    FolderIds inside = ancestors;
    inside.emplace(item.device, item.inode);
    m_schedule({item.source, item.original, targetPath, path, pathShown, std::move(inside), item.mode,
                item.modified.tv_sec});
    return true;
}

bool FolderStager::stageFile(const Item& item, const Placed& placed, const OpenFolder& target,
                               const std::string& path, const std::string& pathShown)
{
    const std::string entry = entryName(path);
    // The writer leaves out every file whose path holds ".DS_Store". Names
    // were cleared of it; should a cut or the conversion bring it back, the
    // file is reported, never lost without a word.
    if (entry.find(kDsStore) != std::string::npos) {
        leaveOut(item.source, LeftOutReason::ExcludedName, "its path in the archive holds .DS_Store: " + entry);
        return placeExcluded(target, placed.fixedName);
    }
    if (pathShown.find(kDsStore) != std::string::npos) {
        leaveOut(item.source, LeftOutReason::ExcludedName, "its path in the archive reads .DS_Store: " + pathShown);
        return false;
    }
    const FileManager::Placed staged = FileManager::linkOrCopyFile(*item.parent, item.at, target, placed.fixedName,
                                                                   m_abandoned, [&] { return linkTextFor(item, entry); });
    if (const auto& error = staged.failure) {
        const int code = error->error;
        if (m_abandoned() || (!error->atTarget && tellIfGone(item.source, code)))
            return false;
        if (!error->atTarget && failsAtSystemLimit(code, item.source))
            return false;
        const std::string line = LogPrefix::kFixNames + error->description + LogPrefix::kErrorFileName + item.original;
        // Only what lies in the user's file leaves it out; a failure of our
        // own folder (no space, an input/output error) fails the job.
        if (error->atTarget && code != EEXIST) {
            failWorkFolder(code, error->description, line);
        } else {
            Log::line(line);
            leaveOut(item.source, error->atTarget ? LeftOutReason::CopyFailed : reasonFor(code), error->description);
        }
        return false;
    }
    m_content.expectedEntries.push_back(m_converter.fromFileName(entry).value_or(entry));
    if (staged.placement != FileManager::Placement::Copy)
        m_content.linkedFiles.push_back({entry, m_content.expectedEntries.size() - 1, item.device, item.inode,
                                         item.size, item.mode, item.modified,
                                         staged.placement == FileManager::Placement::SymbolicLink});
    ++m_content.report.fileCount;
    m_content.totalBytes += static_cast<uint64_t>(item.size);
    // The writer gives a file its own time and mode; only a time it
    // cannot hold needs a word.
    if (DosTime::clampedIfOutside(item.modified.tv_sec))
        stampEntry(m_content.expectedEntries.back(), pathShown, item.modified.tv_sec, std::nullopt);
    noteName(item, placed, pathShown);
    return true;
}

std::string FolderStager::linkTextFor(const Item& item, const std::string& entry)
{
    const std::string& folder = item.parent->path();
    if (!folder.starts_with('/'))
        return {};
    if (m_anchored != item.parent) {
        m_anchored = item.parent;
        m_anchor = std::string(kAnchorFolder) + "/" + std::to_string(m_anchorCount++);
        if (::symlink(folder.c_str(), (m_folders.outputFolder() + "/" + m_anchor).c_str()) != 0)
            m_anchor.clear();
    }
    if (m_anchor.empty())
        return {};
    // From the folder entry lies in up to the output folder.
    std::string text;
    for (const char c : entry)
        if (c == '/')
            text += "../";
    text += m_anchor + "/" + item.at;
    return text.size() < folder.size() + 1 + item.at.size() ? text : std::string();
}

bool FolderStager::placeExcluded(const OpenFolder& target, const std::string& fixedName)
{
    // An empty file in its place: the writer's glob() finds the folder as
    // full as the user's, and gives no empty folder entry for it, while the
    // file itself stays out of the archive as it would without us.
    const int fd = ::openat(target.fd(), fixedName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log::line(LogPrefix::kFixNames + describeErrno(errno, target.pathOf(fixedName)));
        return false;
    }
    ::close(fd);
    return true;
}

void FolderStager::noteName(const Item& item, const Placed& placed, const std::string& pathShown)
{
    JobReport& report = m_content.report;
    const std::string entryShown = entryName(pathShown);
    // A decomposed name that converts to its composed form is no change.
    if (placed.changed && composed(placed.shownName) != composed(item.ownName)) {
        RenamedItem renamed;
        // A given item by its whole path: another given item may have the
        // same name.
        renamed.original = item.given ? item.source : item.original;
        renamed.inArchive = entryShown;
        renamed.replacedCharacters = placed.replacedCharacters;
        renamed.transliterated = placed.transliterated;
        renamed.numbered = placed.number > 1;
        renamed.substituted = placed.substituted;
        renamed.madeCreatable = placed.madeCreatable;
        renamed.readAsJapanese = placed.readAsJapanese;
        renamed.shortened = placed.shortened;
        renamed.keptFromExclusion = placed.keptFromExclusion;
        report.renamed.push_back(renamed);
    }
    if (std::optional<WindowsWarning> warning = WindowsName::componentWarning(placed.shownName))
        report.warnings.push_back({entryShown, *warning, WindowsName::length(entryShown)});
    else if (WindowsName::isTooLong(entryShown))
        report.warnings.push_back({entryShown, WindowsWarning::PathTooLong, WindowsName::length(entryShown)});
}

void FolderStager::expectEmptyFolderEntry(const FolderTask& folder, bool hasVisible)
{
    const std::string& relative = folder.relative;
    const std::string entry = entryName(relative.empty() ? "" : relative + "/");
    // The writer asks glob() with the path as it is: a "[" there makes a
    // pattern, whose answer depends on other folders, some still to come.
    const bool readAsPattern = entry.find('[') != std::string::npos;
    // Otherwise what was placed under a visible name is what glob() finds.
    if (hasVisible && !readAsPattern)
        return;
    // The folder's own permissions, never the writer's drwxrwxrwx, and the
    // DOS folder attribute, which Windows goes by. Shown as the entry is
    // named, with its "/".
    const uint32_t mode = S_IFDIR | (folder.mode & 07777);
    const std::string shown = folder.relativeShown.empty() ? "" : folder.relativeShown + "/";
    StagedContent::PendingFolderEntry pending =
        stamped(m_converter.fromFileName(entry).value_or(entry), shown, folder.modified, mode << 16 | kDosFolder);
    pending.pattern = globEscaped(m_folders.outputFolder()) + "/" + entry + "/*";
    pending.source = folder.source;
    pending.empty = !hasVisible;
    if (readAsPattern)
        m_content.pendingFolderEntries.push_back(std::move(pending));
    else
        settle(m_content, std::move(pending));
}

void FolderStager::settlePendingFolderEntries(StagedContent& content)
{
    std::vector<StagedContent::PendingFolderEntry> pending = std::move(content.pendingFolderEntries);
    content.pendingFolderEntries.clear();
    for (StagedContent::PendingFolderEntry& folder : pending)
        settle(content, std::move(folder));
}

void FolderStager::settle(StagedContent& content, StagedContent::PendingFolderEntry pending)
{
    glob_t found {};
    const int result = ::glob(pending.pattern.c_str(), 0, nullptr, &found);
    const size_t visible = result == 0 ? found.gl_pathc : 0;
    ::globfree(&found);
    if (visible != 0) {
        // The names glob() found are another folder's: the writer gives
        // this empty one no entry, and the archive cannot hold it.
        if (pending.empty && !pending.source.empty()) {
            content.report.leftOut.push_back({pending.source, LeftOutReason::EmptyFolderTakenForPattern,
                                              "an empty folder, which the archive writer takes for one with files in it: "
                                                  + pending.source});
            --content.report.folderCount;
        }
        return;
    }
    content.expectedEntries.push_back(pending.stamp.entry);
    content.entryStamps.push_back(std::move(pending.stamp));
    if (pending.warning)
        content.report.warnings.push_back(std::move(*pending.warning));
}

StagedContent::PendingFolderEntry FolderStager::stamped(const std::string& entry, const std::string& pathShown,
                                                        std::time_t modified, std::optional<uint32_t> attributes) const
{
    StagedContent::PendingFolderEntry stamped;
    stamped.stamp = {entry, DosTime::at(modified), attributes};
    if (DosTime::clampedIfOutside(modified)) {
        const std::string entryShown = entryName(pathShown);
        stamped.warning = WarnedItem{entryShown, WindowsWarning::DateOutOfRange, WindowsName::length(entryShown), modified};
    }
    return stamped;
}

void FolderStager::stampEntry(const std::string& entry, const std::string& pathShown, std::time_t modified,
                              std::optional<uint32_t> attributes)
{
    StagedContent::PendingFolderEntry entryStamp = stamped(entry, pathShown, modified, attributes);
    m_content.entryStamps.push_back(std::move(entryStamp.stamp));
    if (entryStamp.warning)
        m_content.report.warnings.push_back(std::move(*entryStamp.warning));
}

bool FolderStager::tellIfGone(const std::string& source, int error)
{
    if (error != ENOENT && error != ENOTDIR)
        return false;
    if (m_content.changedItem.empty())
        m_content.changedItem =
            kChangedWhileRunning + source + " (gone before it was staged: " + std::strerror(error) + ")";
    return true;
}

bool FolderStager::failsAtSystemLimit(int error, const std::string& source)
{
    if (!isSystemLimit(error))
        return false;
    const std::string description = describeErrno(error, source);
    failWorkFolder(error, description, LogPrefix::kFixNames + description);
    return true;
}

void FolderStager::leaveOut(const std::string& path, LeftOutReason reason, const std::string& detail)
{
    m_content.report.leftOut.push_back({path, reason, detail});
}

void FolderStager::failWorkFolder(int error, const std::string& description, const std::string& line)
{
    if (m_content.workFolderError == 0) {
        m_content.workFolderError = error;
        m_content.workFolderFailure = description;
    }
    m_workFolderFailed(error, line);
}

bool FolderStager::isSystemItem(const std::string& path)
{
    const std::optional<std::string> real = PathText::real(path);
    // The root folder is the whole running system, /proc and all.
    if (real == "/")
        return true;
    for (const char* top : {"/proc", "/sys", "/dev"})
        if (real && PathText::isAtOrBelow(*real, top))
            return true;
    return false;
}

bool FolderStager::isTooLongForWriter(const std::string& path) const
{
    // The writer opens "archive/..." from the output folder, and php makes
    // every path absolute before it opens it: the whole must fit in
    // PATH_MAX with its terminating null.
    const size_t entrySize = std::string_view(WorkFolders::CONTENT_DIR_NAME).size() + 1 + path.size();
    return m_outputFolderSize + 1 + entrySize >= PATH_MAX;
}

#include "ContentBuilder.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned kMostStagers = 4;

template <typename T, typename Key>
void sortBy(std::vector<T>& items, Key key)
{
    std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) { return key(a) < key(b); });
}

// What ends a build in memory and starts it again on disk.
bool isNoRoom(int error)
{
    return error == ENOSPC || error == ENOMEM || error == EDQUOT;
}

} // namespace

ContentBuilder::ContentBuilder(const WorkFolders& folders, std::function<bool()> abandoned)
    : m_folders(folders)
    , m_abandoned(std::move(abandoned))
{
}

StagedContent ContentBuilder::build(const std::vector<std::string>& items, bool inMemory)
{
    if (inMemory && placeInMemory()) {
        StagedContent content = buildOnce(items, true);
        if (!isNoRoom(content.workFolderError))
            return content;
        Log::line(std::string(LogPrefix::kFixNames) + "no room left in " + m_folders.memoryRoot() + ": staging again on disk");
        release(m_folders);
        m_workFolderFailed = false;
        m_failureTold = false;
        m_anchors = 0;
    }
    return buildOnce(items, false);
}

bool ContentBuilder::placeInMemory()
{
    bool placed = !FileManager::createDirectory(m_folders.outputFolder(), 0700);
    for (const char* name : {WorkFolders::CONTENT_DIR_NAME, FolderStager::kAnchorFolder}) {
        const std::string inMemory = m_folders.memoryFolder() + "/" + name;
        placed = placed && ::mkdir(inMemory.c_str(), 0700) == 0
            && ::symlink(inMemory.c_str(), (m_folders.outputFolder() + "/" + name).c_str()) == 0;
    }
    if (!placed)
        release(m_folders);
    return placed;
}

StagedContent ContentBuilder::buildOnce(const std::vector<std::string>& items, bool inMemory)
{
    // The work folders' identities, taken once: they are left out when met.
    FolderStager::FolderIds workFolders;
    for (const std::string& root : {m_folders.tmpDirectory(), m_folders.memoryRoot()}) {
        struct stat info {};
        if (::stat(root.c_str(), &info) == 0)
            workFolders.emplace(info.st_dev, info.st_ino);
    }
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, kMostStagers);
    std::vector<std::unique_ptr<FolderStager>> stagers;
    for (unsigned i = 0; i < count; ++i)
        stagers.push_back(std::make_unique<FolderStager>(
            m_folders, workFolders, [this] { return m_workFolderFailed || m_abandoned(); },
            [this](FolderTask task) { schedule(std::move(task)); },
            [this, inMemory](int error, const std::string& line) {
                m_workFolderFailed = true;
                // One failure is told: the build ends with it, and what fails
                // after it follows from it. Memory that runs out is told
                // once, as the content is staged again on disk.
                if (!(inMemory && isNoRoom(error)) && !m_failureTold.exchange(true))
                    Log::line(line);
            },
            m_anchors));

    const std::string contentPath = m_folders.contentFolder();
    const auto failed = [](int error, const std::string& description) {
        Log::line(LogPrefix::kCreateDir + description);
        StagedContent content;
        content.workFolderError = error;
        content.workFolderFailure = description;
        return content;
    };
    // The folder that could not be made is the cause (a disk without a free
    // inode), not the folder that then cannot be opened.
    int systemError = 0;
    if (Failure error = FileManager::createDirectory(contentPath, 0700, &systemError))
        return failed(systemError, *error);
    // Without it, symbolic links hold whole paths.
    ::mkdir((m_folders.outputFolder() + "/" + FolderStager::kAnchorFolder).c_str(), 0700);
    const std::shared_ptr<const OpenFolder> content = OpenFolder::open(*OpenFolder::working(), contentPath, contentPath);
    if (!content) {
        const int error = errno;
        return failed(error, describeErrno(error, contentPath));
    }
    stagers.front()->stageGiven(items, *content);
    {
        std::vector<std::jthread> helpers;
        // The helpers only share the work: where the system gives no more
        // threads (a limit on the user's processes or address space), the
        // ones started, and this one, do it all.
        for (size_t i = 1; i < stagers.size(); ++i) {
            try {
                helpers.emplace_back([this, &stager = *stagers[i]] { work(stager); });
            } catch (const std::system_error&) {
                break;
            }
        }
        work(*stagers.front());
    }
    return merged(stagers);
}

void ContentBuilder::release(const WorkFolders& folders)
{
    // What cannot go now goes with the staging folder when the job ends.
    for (const char* name : {WorkFolders::CONTENT_DIR_NAME, FolderStager::kAnchorFolder}) {
        FileManager::removeItem(folders.outputFolder() + "/" + name);
        if (const std::string inMemory = folders.memoryFolder() + "/" + name; FileManager::exists(inMemory))
            FileManager::removeItem(inMemory);
    }
}

void ContentBuilder::schedule(FolderTask task)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(task));
    }
    m_changed.notify_one();
}

void ContentBuilder::work(FolderStager& stager)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_waiting.empty() || m_busy == 0; });
        if (m_waiting.empty())
            break;
        const FolderTask task = std::move(m_waiting.back());
        m_waiting.pop_back();
        ++m_busy;
        lock.unlock();
        if (!m_abandoned() && !m_workFolderFailed)
            stager.stageContent(task);
        lock.lock();
        --m_busy;
    }
    // The last to find nothing to do lets the others end too.
    m_changed.notify_all();
}

// The stagers' accounts as one; the report's lists in the order of their
// paths, whichever stager met them.
StagedContent ContentBuilder::merged(const std::vector<std::unique_ptr<FolderStager>>& stagers) const
{
    StagedContent all;
    for (const std::unique_ptr<FolderStager>& stager : stagers) {
        StagedContent part = stager->takeContent();
        all.report.fileCount += part.report.fileCount;
        all.report.folderCount += part.report.folderCount;
        all.totalBytes += part.totalBytes;
        if (all.workFolderError == 0) {
            all.workFolderError = part.workFolderError;
            all.workFolderFailure = part.workFolderFailure;
        }
        if (all.changedItem.empty())
            all.changedItem = part.changedItem;
        // Moved, not copied: on large trees the lists are tens of megabytes.
        auto append = [](auto& to, auto& from) {
            to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
            from = {};
        };
        const size_t entriesBefore = all.expectedEntries.size();
        append(all.expectedEntries, part.expectedEntries);
        append(all.entryStamps, part.entryStamps);
        for (StagedFile& file : part.linkedFiles)
            file.entry += entriesBefore;
        append(all.linkedFiles, part.linkedFiles);
        append(all.report.renamed, part.report.renamed);
        append(all.report.leftOut, part.report.leftOut);
        append(all.report.warnings, part.report.warnings);
        append(all.pendingFolderEntries, part.pendingFolderEntries);
    }
    // The tree is whole: what the writer's glob() will find is known now.
    FolderStager::settlePendingFolderEntries(all);
    sortBy(all.report.renamed, [](const RenamedItem& item) { return item.original; });
    sortBy(all.report.leftOut, [](const LeftOutItem& item) { return item.path; });
    sortBy(all.report.warnings, [](const WarnedItem& item) { return item.inArchive; });
    return all;
}

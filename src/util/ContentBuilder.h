#pragma once

#include "FolderStager.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Builds the content folder in one pass: every readable item the user gave
// is linked once (a hard link, else a symbolic link to it; a copy only where
// no link can stand for it), under the name it will have in the archive.
// Symbolic links go to the job's memory folder where it is asked for.
// Names get the nine characters Windows refuses replaced by "_"; a name
// that Windows would take for an earlier sibling's gets " (2)", " (3)", ...
// Items that cannot be archived are left out and reported. Folders are
// filled by a few stagers side by side: on trees of many small files the
// time goes to the file system's calls, which run in parallel well.
class ContentBuilder {
public:
    ContentBuilder(const WorkFolders& folders, std::function<bool()> abandoned);

    // items are absolute paths, in the user's order. inMemory: the content
    // goes to the job's memory folder, which is made; where that is full,
    // it is built again on disk.
    StagedContent build(const std::vector<std::string>& items, bool inMemory = false);
    // Removes the content folder and the anchors beside it, once the writer
    // has read them.
    static void release(const WorkFolders& folders);

private:
    using FolderTask = FolderStager::FolderTask;

    // The content folder and the anchor folder become links to folders of
    // the same names in the memory folder; false when they could not.
    bool placeInMemory();
    // inMemory: the content folder leads to memory, and running out of
    // room there is not told here.
    StagedContent buildOnce(const std::vector<std::string>& items, bool inMemory);

    void schedule(FolderTask task);
    // Takes folders until none is left and no stager can make more.
    void work(FolderStager& stager);
    StagedContent merged(const std::vector<std::unique_ptr<FolderStager>>& stagers) const;

    WorkFolders m_folders;
    std::function<bool()> m_abandoned;
    // Set by the first stager whose writing into the content folder failed.
    std::atomic_bool m_workFolderFailed = false;
    // Set once a failure of the content folder has been written.
    std::atomic_bool m_failureTold = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Last in, first out: the tree fills depth first.
    std::vector<FolderTask> m_waiting;
    int m_busy = 0;
    std::atomic<unsigned> m_anchors = 0;
};

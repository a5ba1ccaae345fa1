#pragma once

#include "Failure.h"

#include <string>

// Every folder and file a job works in, formed in this one place: the work
// root (home + "/.quillmere"), the job's own staging folder inside it, the
// output folder inside that, the content folder "archive" inside the output
// folder, and the archive the writer makes beside the content folder. Each
// job stages in a folder of its own ("<STAGING_DIR_NAME>-<job>"), so that
// nothing left running by an earlier job can touch a later one's files.
class WorkFolders {
public:
    static constexpr const char* STAGING_DIR_NAME = "34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225";
    static constexpr const char* OUTPUT_DIR_NAME = "17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56";
    static constexpr const char* CONTENT_DIR_NAME = "archive";

    explicit WorkFolders(const std::string& homeDirectory, std::string job = {});
    // The folders below the current user's home folder.
    static WorkFolders ofCurrentUser();
    // The same work root, for a new job with a name of its own.
    WorkFolders forNewJob() const;

    const std::string& tmpDirectory() const { return m_tmpDirectory; }
    const std::string& job() const { return m_job; }
    // Where the records of what each job made are kept.
    std::string journalFolder() const;
    // True for the name of a staging folder in the work root, of any job
    // (and the one folder all jobs shared in earlier versions).
    static bool isStagingName(const std::string& name);
    std::string stagingFolder() const;
    std::string outputFolder() const;
    std::string contentFolder() const;
    std::string archiveInOutput(const std::string& archiveName) const;

    // A folder in memory (a tmpfs: $XDG_RUNTIME_DIR/quillmere, else
    // /dev/shm/quillmere-<uid>) for a content folder of symbolic links to
    // files on other file systems: a link costs there no disk and far less
    // time than a new inode on a disk. The job's own folder in it has the
    // staging folder's name.
    const std::string& memoryRoot() const { return m_memoryRoot; }
    std::string memoryFolder() const;
    // Makes the memory root private, as makePrivate does the work root; a
    // root that is not in memory is refused too.
    Failure makeMemoryRootPrivate() const;
    // True when path, links followed, is the work root or the memory root or
    // lies in one: what jobs make and record there is no one's to archive,
    // nor a place to deliver to.
    bool holds(const std::string& path) const;

    // Makes sure the work root is a folder of the user's own that no one
    // else can read, creating it when missing. The staged files are hard
    // links to the user's files, so a root that is a symbolic link or
    // belongs to someone else is refused rather than used; systemError as
    // for PrivateFolder::make.
    Failure makePrivate(int* systemError = nullptr) const;

private:
    std::string m_tmpDirectory;
    std::string m_memoryRoot;
    std::string m_job;
};

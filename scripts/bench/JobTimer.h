#pragma once

#include "WorkFolders.h"

#include "ProcessTimer.h"

#include <cstdint>
#include <string>
#include <vector>

// Times what the user waits for and what it is compared with, on one item
// (a folder or a file): the whole application process, started as
// "quillmere --batch ITEM", until the archive is in place beside the item;
// php's writer alone on the same staged tree, started exactly as the
// application starts it; the encryption step alone; and zip on the item.
//
// The application runs with the benchmark's temporary home folder and
// runtime folder (set up by the caller in this process's environment).
class JobTimer {
public:
    static constexpr const char* kPassword = "benchpassword1";

    JobTimer(const std::string& workRoot, const std::string& applicationPath);

    // The application from its start to the archive in the item's folder.
    // The archive is removed afterwards, outside the measured time, so every
    // run starts alike; archiveBytes, when given, receives its size.
    ProcessTimer::Result runApplication(const std::string& item, bool encrypt,
                                        uint64_t* archiveBytes = nullptr) const;
    // The application's work folder (~/.quillmere of the temporary home).
    std::string applicationWorkFolder() const;

    // Builds the content folder of a job for item in a home folder of the
    // writer's own (linked, as the application links), for runWriter.
    void stageForWriter(const std::string& item) const;
    // The writer command on the staged tree; its archive is removed.
    ProcessTimer::Result runWriter() const;

    // The encryption step alone, started exactly as the application starts
    // it, on a copy of an archive the writer made of the staged tree (made
    // by prepareEncryption, which runs after stageForWriter).
    void prepareEncryption() const;
    ProcessTimer::Result runEncryption() const;

    // zip with options (for example {"-qr"}) on the item, from its folder.
    ProcessTimer::Result runZip(const std::string& item, const std::vector<std::string>& options) const;

private:
    // The writer command on the staged tree; its archive stays.
    ProcessTimer::Result writeArchive() const;
    WorkFolders writerFolders() const;
    std::vector<std::string> writerEnvironment() const;
    void removeIfPresent(const std::string& path) const;

    std::string m_root;
    std::string m_application;
    std::string m_converterFolder;
};

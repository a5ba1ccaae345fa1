#pragma once

#include "Failure.h"
#include "FollowedArchive.h"
#include "StagedContent.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Reads a finished archive back before the user is told it is made: the
// entries are exactly the expected ones (raw code page 932 names, none
// marked as UTF-8), every file's data reads back with a correct checksum,
// and for an encrypted archive every file is encrypted and opens with the
// password.
class ArchiveCheck {
public:
    // The failures about the archive as a whole, and an entry left plain.
    static constexpr const char* kEntryCount = "the archive holds ";
    static constexpr const char* kEntriesExpected = " entries where ";
    static constexpr const char* kUtf8Name = "an entry name is marked as UTF-8: ";
    static constexpr const char* kNotEncrypted = " is not encrypted: ";
    // Gives up, with a failure, as soon as abandoned is set. What followed
    // read while the archive was written counts only when archivePath is
    // still that file.
    static Failure verify(const std::string& archivePath, const std::vector<std::string>& expectedEntries,
                          const std::optional<std::string>& password,
                          const std::shared_ptr<std::atomic_bool>& abandoned,
                          const FollowedArchive* followed = nullptr);

    // The archive holds what the user gave only if every file staged as a
    // link was still the file staged when the writer had read it. The first
    // that is not (gone or renamed, another file in its place, its size,
    // time or permissions changed), as a failure that names it; nothing
    // when all are as they were. files lie below outputFolder.
    // files[i] is passed over where asked[i] is set.
    static Failure changedItem(const std::string& outputFolder, const std::vector<StagedFile>& files,
                               const std::atomic_bool& abandoned, const std::vector<bool>* asked = nullptr);
    // The same of the files staged as symbolic links alone: whatever took
    // the place of one is what the writer opens (a FIFO, which blocks it
    // for ever, among them).
    static Failure changedLink(const std::string& outputFolder, const std::vector<StagedFile>& files,
                               const std::atomic_bool& abandoned);
    // The same of one file, below the open output folder.
    static Failure changeOfFile(int outputFolder, const StagedFile& file);
    // True for a failure that changedItem gave.
    static bool isChangedItem(const std::string& failure);
    // The path such a failure names; nullopt for any other failure.
    static std::optional<std::string> changedPathOf(const std::string& failure);
};

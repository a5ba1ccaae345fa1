#pragma once

#include <map>
#include <string>

// Everything a job could do to the user's files, recorded for a folder tree:
// each path's type, size, modification time, mode, content hash and link
// target. Two snapshots of the same tree must be equal after a job.
class UserTreeSnapshot {
public:
    explicit UserTreeSnapshot(const std::string& root);

    bool operator==(const UserTreeSnapshot& other) const { return m_records == other.m_records; }
    // The same snapshot without the record of path (the archive a job
    // delivered) and without the time of the folder that received it.
    UserTreeSnapshot without(const std::string& path) const;
    // The paths that differ, for a failure message.
    std::string differences(const UserTreeSnapshot& other) const;

private:
    void add(const std::string& path);

    std::string m_root;
    struct Record {
        std::string what; // type, mode, size, content hash or link target
        std::string mtime;
        bool operator==(const Record&) const = default;
    };
    std::map<std::string, Record> m_records;
};

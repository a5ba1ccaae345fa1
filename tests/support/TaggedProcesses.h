#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The processes that carry a tag ("NAME=value") in their environment. The
// programs an application starts, and theirs, inherit its tag and keep it
// when their parent has gone and they have been handed to init, so a test
// finds every one that outlived the application by its tag.
class TaggedProcesses {
public:
    explicit TaggedProcesses(std::string tag);
    // Kills whatever still carries the tag, so a failed check leaves
    // nothing running.
    ~TaggedProcesses();
    TaggedProcesses(const TaggedProcesses&) = delete;
    TaggedProcesses& operator=(const TaggedProcesses&) = delete;

    const std::string& tag() const { return m_tag; }
    // The living processes that carry the tag; zombies are left out.
    std::vector<pid_t> living() const;
    // The program names (from /proc/PID/comm) of the same processes.
    std::vector<std::string> names() const;

private:
    std::string m_tag;
};

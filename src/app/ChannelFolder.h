#pragma once

#include "Failure.h"

#include <string>
#include <vector>

// The private folder the running instance's socket goes in. The shared
// fallback under /tmp has a name anyone can predict, so another user may
// have put a folder, a file or a link there first; then a fresh folder,
// which mkdtemp makes for this user alone, takes its place, and later
// starts learn where it is from the record in the work folder.
class ChannelFolder {
public:
    // Takes the first of candidates that can be made private and gives an
    // address short enough for socketName, else makes a fresh folder beside
    // the last one, named after it with a random suffix. Each folder passed
    // over writes one line; without any folder, socketPath() is empty.
    ChannelFolder(const std::vector<std::string>& candidates, const std::string& socketName);
    // A fresh folder goes with the instance (its socket must be gone first).
    ~ChannelFolder();
    ChannelFolder(const ChannelFolder&) = delete;
    ChannelFolder& operator=(const ChannelFolder&) = delete;

    const std::string& socketPath() const { return m_socketPath; }

    // Why the folder of socketPath is no longer a folder of this user's own
    // that no one else can enter; nothing when it still is. Unlike making
    // one, checking changes nothing.
    static Failure checkStillPrivate(const std::string& socketPath);

private:
    bool takeCandidate(const std::string& folder, const std::string& socketName);
    bool makeFresh(const std::string& besides, const std::string& socketName);

    std::string m_socketPath;
    std::string m_freshFolder;
};

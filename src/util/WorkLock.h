#pragma once

#include "UniqueFd.h"

#include <functional>
#include <string>

// Keeps two processes of the user from staging into the one staging folder
// at the same time: a lock on the work root, held while a job has files
// there. A process that finds it held waits for it.
class WorkLock {
public:
    // Waits until the lock on folder is free or giveUp says to stop.
    WorkLock(const std::string& folder, const std::function<bool()>& giveUp);

    bool isHeld() const { return m_held; }

private:
    UniqueFd m_fd;
    bool m_held = false;
};

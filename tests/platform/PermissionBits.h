#pragma once

#include <linux/capability.h>

// Makes permission bits count for the calling thread while it lives. Tests
// run as root in CI, where the capabilities to override read, write and
// search permissions would hide every permission problem; they are taken
// out of the effective set (and given back at the end). As another user
// nothing needs to change.
class PermissionBits {
public:
    PermissionBits();
    ~PermissionBits();
    PermissionBits(const PermissionBits&) = delete;
    PermissionBits& operator=(const PermissionBits&) = delete;

    // False when the process is privileged and could not give the
    // capabilities up: permission bits do not stop it then.
    bool apply() const { return m_apply; }

private:
    __user_cap_header_struct m_header {};
    __user_cap_data_struct m_saved[2] {};
    bool m_lowered = false;
    bool m_apply = false;
};

#pragma once

// Tests run as root in CI, where overriding file permissions would hide
// every permission problem. A test that checks how unreadable files are
// handled gives that power up for the calling thread and the threads and
// programs it starts afterwards; call it before any thread is started.
class Privileges {
public:
    // False when the capabilities could not be changed.
    static bool dropFileOverride();
};

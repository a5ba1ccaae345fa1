#pragma once

#include <string>

// Times complete archive jobs and the reference `zip -qr` on the same tree.
class JobTimer {
public:
    // Seconds from the call to the delivered archive; negative on failure.
    static double runJob(const std::string& item, bool encrypt);
    static double runZip(const std::string& item, bool encrypt);
};

#pragma once

#include "JobTimer.h"

#include <string>
#include <vector>

// Times php's writer alone, and the encryption script, under different
// settings of glibc's allocator (GLIBC_TUNABLES), interleaved, and checks
// that every setting writes the same archive byte for byte. Used to choose
// the environment the application gives its programs.
class AllocatorStudy {
public:
    // The settings tried when none are given; "" is glibc's defaults.
    static std::vector<std::string> defaultVariants();

    // Studies the writer on each shape named in shapeKeys, and on the
    // "incompressible" shape the encryption script too.
    static void run(const JobTimer& timer, const std::string& root, bool quick, int runs,
                    const std::vector<std::string>& variants, const std::vector<std::string>& shapeKeys);

private:
    static void studyWriter(const JobTimer& timer, const std::string& root, const std::string& title,
                            int runs, const std::vector<std::string>& variants);
    static void studyEncryption(const JobTimer& timer, const std::string& root, const std::string& title,
                                int runs, const std::vector<std::string>& variants);
};

#pragma once

#include <string>

// php converts entry names with glibc's iconv, which learns the name
// "UTF-8-MAC" from our converter module. The module's folder is put in
// front of GCONV_PATH before any child process starts.
class ConverterPath {
public:
    // The module's folder for an executable in executableDir: beside it in
    // the build tree, or where the installation put it. Empty when neither
    // holds the module's configuration.
    static std::string moduleFolder(const std::string& executableDir);
    static void install(const std::string& executableDir);
    // The folder of the running executable, from /proc/self/exe.
    static std::string executableFolder();
};

#pragma once

#include <optional>
#include <string>

// Paths as byte strings, joined with "/".
class PathText {
public:
    static std::string join(const std::string& folder, const std::string& name);
    // The same, where an empty folder stands for "no folder": name alone.
    static std::string below(const std::string& folder, const std::string& name);
    // The last component of a path that may end in "/"; "/" for "/".
    static std::string lastComponent(const std::string& path);
    // The folder that holds path: "." for a bare name, "/" at the top.
    static std::string parentFolder(const std::string& path);
    static std::string withoutTrailingSlashes(const std::string& path);
    // name split at its last "." into stem and extension (with the dot);
    // a leading dot starts no extension: ".profile" has none.
    static std::pair<std::string, std::string> splitExtension(const std::string& name);
    // path with every link resolved, as the kernel finds it; nullopt when
    // it leads nowhere.
    static std::optional<std::string> real(const std::string& path);
    // True when path is top or lies below it.
    static bool isAtOrBelow(const std::string& path, const std::string& top);
    // The local path a "file:" address names ("file:///tmp/a%20b",
    // "file://localhost/tmp", "file:/tmp"), its escapes decoded to bytes;
    // nullopt for any other text, and for an address on another host.
    static std::optional<std::string> fromFileAddress(const std::string& text);
    // The item path names, as an absolute path: its own name and the folder
    // that holds it. "." is the working folder by its name, what comes up
    // to the last ".." is where the kernel goes, and a path the kernel
    // refuses stays as given, so that the job tells why.
    static std::string absoluteItem(const std::string& path);
};

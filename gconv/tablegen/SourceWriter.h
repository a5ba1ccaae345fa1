#pragma once

#include "GeneratedTables.h"

#include <string>

// Writes the generated tables as C++ (UnicodeTables.cpp) and their sizes as
// a header (UnicodeTableLimits.h), replacing each file only once it is
// complete, so that an interrupted build never leaves half a table behind.
class SourceWriter {
public:
    // Throws std::runtime_error when a file cannot be written.
    static void write(const GeneratedTables& tables, const std::string& sourcePath, const std::string& headerPath);

private:
    static std::string source(const GeneratedTables& tables);
    static std::string header(const GeneratedTables& tables);
    static void replaceFile(const std::string& path, const std::string& content);
};

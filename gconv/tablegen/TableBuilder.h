#pragma once

#include "GeneratedTables.h"

class Cp932Probe;
class UnicodeDatabase;

// Derives the converter's tables from the Unicode character database and
// from glibc's own CP932 converter.
class TableBuilder {
public:
    // Throws std::runtime_error when the data breaks an assumption the
    // converter's state layout relies on.
    static GeneratedTables build(const UnicodeDatabase& database, Cp932Probe& probe);

private:
    static void addCombiningClasses(const UnicodeDatabase& database, GeneratedTables& tables);
    static void addCompositions(const UnicodeDatabase& database, GeneratedTables& tables);
    static void addEncoding(const UnicodeDatabase& database, Cp932Probe& probe, GeneratedTables& tables);
};

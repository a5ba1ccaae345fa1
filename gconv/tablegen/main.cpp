// Writes the UTF-8-MAC converter's tables: combining classes, compositions
// and decompositions from Debian's unicode-data package, and the mapping to
// code page 932 from glibc's own CP932 converter, asked one character at a
// time. Nothing here is typed in by hand, so the module maps exactly as the
// glibc it was built against.

#include "Cp932Probe.h"
#include "SourceWriter.h"
#include "TableBuilder.h"
#include "UnicodeDatabase.h"

#include <exception>
#include <string>
#include <unistd.h>

namespace {

void printLine(const std::string& text)
{
    const std::string line = text + '\n';
    if (::write(STDOUT_FILENO, line.data(), line.size()) < 0)
        return; // nowhere left to report to
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        printLine("usage: quillmere_gconv_tablegen UnicodeData.txt DerivedNormalizationProps.txt"
                  " DerivedCoreProperties.txt UnicodeTables.cpp UnicodeTableLimits.h");
        return 2;
    }
    try {
        const UnicodeDatabase database(argv[1], argv[2], argv[3]);
        Cp932Probe probe;
        SourceWriter::write(TableBuilder::build(database, probe), argv[4], argv[5]);
    } catch (const std::exception& error) {
        printLine(std::string("quillmere_gconv_tablegen: ") + error.what());
        return 1;
    }
    return 0;
}

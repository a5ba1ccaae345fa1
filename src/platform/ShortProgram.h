#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs a short program to its end and gives how it ended and what it wrote
// (standard output and error together), from any thread and without Qt.
//
// A BackgroundTask's thread ends a moment after its work's future has: a
// QProcess made there would leave Qt's data for that thread behind, to be
// torn down then, perhaps while the process itself is ending. Run here,
// the program leaves nothing on the thread.
class ShortProgram {
public:
    struct Ended {
        int status = 0;
        std::string said;
    };
    // arguments[0] is found on the PATH; environment holds "NAME=value"
    // texts that stand in place of this process's own. Nothing when the
    // program could not start, was killed by a signal, or had not ended
    // within milliseconds (it is killed then).
    static std::optional<Ended> run(const std::vector<std::string>& arguments,
                                    const std::vector<std::string>& environment, int milliseconds);
};

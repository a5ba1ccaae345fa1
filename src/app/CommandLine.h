#pragma once

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

// What the command line asks for, read without starting anything: the
// arguments go in as bytes (file names need not be UTF-8) and come out as
// bytes, with the texts a terminal user sees in the user's language.
class CommandLine {
public:
    enum class Language { English, Japanese };

    enum class Action {
        Window,  // the window, with the items handed to it as today
        Batch,   // one job without a window, then exit
        Help,    // print text to standard output, exit 0
        Version, // print text to standard output, exit 0
        Error,   // print text to standard error, exit kUsageStatus
    };

    static constexpr int kUsageStatus = 2;

    Action action = Action::Window;
    // The items as given, in order; not yet made absolute.
    std::vector<std::string> items;
    // The destination folder as given; empty for beside the first item.
    std::string outputFolder;
    // Set when the command line overrides the stored encryption option.
    std::optional<bool> encrypt;
    // Set when the command line overrides the stored naming option.
    std::optional<bool> nameAfterItems;
    bool passwordFromStdin = false;
    // QUILLMERE_PASSWORD's value. The program takes it out of its
    // environment as it starts, used or not, so that no program it starts
    // inherits it.
    std::string passwordVariable;
    bool json = false;
    // The help, version or error text, ending in a line break.
    std::string text;

    // What the texts and checks depend on besides the arguments.
    struct Context {
        Language language = Language::English;
        std::string version;
        // The update address the build was configured with; empty for none.
        std::string updateEndpoint;
        // QUILLMERE_PASSWORD is set: --encrypt may go without --password-stdin.
        bool passwordVariableSet = false;
    };

    // arguments are argv after the program's name.
    static CommandLine parse(const std::vector<std::string>& arguments, const Context& context);

    // Japanese when the locale's language is.
    static Language languageOfLocale();
};

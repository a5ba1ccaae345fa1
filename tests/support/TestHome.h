#pragma once

#include <QTemporaryDir>

#include <optional>
#include <string>

// A temporary folder set as $HOME while it lives, so jobs never touch the
// real home folder. (Each test process gets XDG_CONFIG_HOME from CTest.)
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    std::string path() const;
    // A fresh folder below the temporary folder, for the user's items.
    std::string makeFolder(const std::string& relative) const;
    void writeFile(const std::string& relative, const std::string& content) const;

private:
    QTemporaryDir m_dir;
    std::optional<std::string> m_savedHome;
};

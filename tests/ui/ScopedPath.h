#pragma once

#include <QByteArray>

// Makes one folder the whole $PATH while it lives and restores $PATH when it
// goes, also when a check in between fails and leaves the test early.
class ScopedPath {
public:
    explicit ScopedPath(const QByteArray& folder)
        : m_saved(qgetenv("PATH"))
    {
        qputenv("PATH", folder);
    }
    ~ScopedPath() { qputenv("PATH", m_saved); }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    QByteArray m_saved;
};

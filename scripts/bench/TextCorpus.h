#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Real text from the machine, for the text files of the trees: C headers
// from /usr/include and documentation from /usr/share/doc (files that hold
// no NUL byte, compressed ones left out), taken in a fixed order up to a
// fixed size, so that deflate meets what it meets in users' documents.
class TextCorpus {
public:
    // The corpus of this machine, read on first use.
    static const TextCorpus& machine();

    explicit TextCorpus(const std::vector<std::string>& roots, uint64_t limitBytes);

    bool empty() const { return m_text.empty(); }
    // "64 MB of text from 5432 files in /usr/include, /usr/share/doc"
    std::string description() const;

    // Where a file's text starts: a random place in the corpus.
    size_t randomPlace(std::mt19937_64& random) const;
    // Copies length bytes of the corpus from place on, starting again at its
    // beginning where it ends, and moves place past them.
    void copy(size_t& place, char* out, size_t length) const;

private:
    std::string m_text;
    std::vector<std::string> m_roots;
    int m_files = 0;
};

#pragma once

#include <QList>
#include <QString>

class QLabel;

// Where a label may break a line. Qt breaks lines between words, between
// Japanese characters and after a "/" of a path; a long file name joined
// with "_" or "." is one word to it, and a label holding one grows as wide
// as the name, pushing the window's controls out of sight.
class WrapPoints {
public:
    // text with an invisible break point (U+200B) after each "_", ".", "-"
    // and "+" of a word too long for a short line, and within such a word
    // wherever it still runs on. Shorter words are left as they are. Only
    // for showing: what is read out is the text itself.
    static QString added(const QString& text);
    // What is copied from these labels, to the clipboard or by selecting
    // it, is their text without the break points: pasted as a file name,
    // it must be the name.
    static void keepOutOfCopies(const QList<QLabel*>& labels);
};

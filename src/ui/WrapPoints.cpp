#include "WrapPoints.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>

namespace {

const QChar kBreak(0x200B);
// Longer than most words, short enough for a narrow window at 200 %.
const qsizetype kLongestRun = 24;

// Where Qt breaks a line of its own accord: at spaces, and around Japanese
// characters (from the CJK radicals on) and emoji (surrogate pairs).
bool endsWord(QChar c)
{
    return c.isSpace() || c == kBreak || c.unicode() >= 0x2E80;
}

bool breakableAfter(QChar c)
{
    return c == QLatin1Char('_') || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('+');
}

QString brokenWord(QStringView word)
{
    QString shown;
    qsizetype run = 0;
    for (qsizetype i = 0; i < word.size(); ++i) {
        shown += word[i];
        ++run;
        if (i + 1 < word.size() && (breakableAfter(word[i]) || run >= kLongestRun)) {
            shown += kBreak;
            run = 0;
        }
    }
    return shown;
}

} // namespace

QString WrapPoints::added(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !endsWord(text[end]))
            ++end;
        const QStringView word = QStringView(text).sliced(start, end - start);
        shown += word.size() > kLongestRun ? brokenWord(word) : word.toString();
        if (end < text.size())
            shown += text[end++];
        start = end;
    }
    return shown;
}

void WrapPoints::keepOutOfCopies(const QList<QLabel*>& labels)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const auto clean = [clipboard, labels](QClipboard::Mode mode) {
        const QString copied = clipboard->text(mode);
        if (!copied.contains(kBreak))
            return;
        for (const QLabel* label : labels)
            if (label->hasSelectedText() && label->selectedText() == copied) {
                clipboard->setText(QString(copied).remove(kBreak), mode);
                return;
            }
    };
    QObject* owner = labels.isEmpty() ? nullptr : labels.front();
    QObject::connect(clipboard, &QClipboard::dataChanged, owner, [clean] { clean(QClipboard::Clipboard); });
    QObject::connect(clipboard, &QClipboard::selectionChanged, owner, [clean] { clean(QClipboard::Selection); });
}

#include "JobReportText.h"

#include "JobStatusText.h"
#include "WorkPathText.h"

#include <QDateTime>
#include <QStringList>

namespace {

QString heading(const char* title, std::size_t count)
{
    return QStringLiteral("%1: %2 件").arg(QString::fromUtf8(title)).arg(count);
}

} // namespace

QString JobReportText::details(const JobReport& report)
{
    QStringList sections;
    if (!report.leftOut.empty())
        sections << leftOutSection(report);
    if (!report.renamed.empty())
        sections << renamedSection(report);
    if (!report.warnings.empty())
        sections << warningSection(report);
    if (sections.isEmpty())
        return QStringLiteral("すべての項目を元の名前のまま入れました。");
    return sections.join(QStringLiteral("\n\n"));
}

QString JobReportText::leftOutSection(const JobReport& report)
{
    QStringList lines{heading("入れられなかった項目", report.leftOut.size())};
    for (const LeftOutItem& item : report.leftOut) {
        QString line = QStringLiteral("  %1 — %2").arg(JobStatusText::inSentence(item.path), reason(item.reason));
        if (!item.detail.empty() && detailIsSystemText(item.reason))
            line += QStringLiteral("（%1）").arg(WorkPathText::withoutWorkPaths(item.detail));
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString JobReportText::renamedSection(const JobReport& report)
{
    QStringList lines{heading("名前を変えた項目", report.renamed.size())};
    for (const RenamedItem& item : report.renamed)
        lines << QStringLiteral("  %1 → %2（%3）")
                     .arg(JobStatusText::inSentence(item.original), QString::fromStdString(item.inArchive), renaming(item));
    return lines.join(QLatin1Char('\n'));
}

QString JobReportText::warningSection(const JobReport& report)
{
    QStringList lines{heading("Windows で元のとおりに展開できないおそれのある項目", report.warnings.size())};
    for (const WarnedItem& item : report.warnings)
        lines << QStringLiteral("  %1 — %2").arg(QString::fromStdString(item.inArchive), warning(item));
    return lines.join(QLatin1Char('\n'));
}

// The system's answer (an error's text) adds to the reason; for the other
// reasons the detail is only the log's English for the same thing.
bool JobReportText::detailIsSystemText(LeftOutReason reason)
{
    return reason == LeftOutReason::Missing || reason == LeftOutReason::Unreadable
        || reason == LeftOutReason::DanglingLink || reason == LeftOutReason::CopyFailed;
}

QString JobReportText::reason(LeftOutReason reason)
{
    switch (reason) {
    case LeftOutReason::Missing:
        return QStringLiteral("見つかりません");
    case LeftOutReason::Unreadable:
        return QStringLiteral("読み取りが許されていません");
    case LeftOutReason::DanglingLink:
        return QStringLiteral("リンク先がありません");
    case LeftOutReason::LinkLoop:
        return QStringLiteral("リンクが循環しています");
    case LeftOutReason::SpecialFile:
        return QStringLiteral("デバイスやソケットなど、アーカイブに入れられない種類です");
    case LeftOutReason::CopyFailed:
        return QStringLiteral("作業用フォルダにコピーできませんでした");
    case LeftOutReason::ExcludedName:
        return QStringLiteral("名前に「.DS_Store」を含むため、アーカイブには入りません");
    case LeftOutReason::SameItem:
        return QStringLiteral("同じ項目が重ねて指定されました（一つだけ入れています）");
    case LeftOutReason::LinkToFolder:
        return QStringLiteral("フォルダへのリンクです（リンク先はアーカイブに入れません）");
    case LeftOutReason::SystemItem:
        return QStringLiteral("/proc、/sys、/dev の中はシステムの一部のため、アーカイブに入れません");
    case LeftOutReason::PathTooLong:
        return QStringLiteral("アーカイブの中のパスが長すぎます");
    case LeftOutReason::WorkFolder:
        return QStringLiteral("Quillmere 自身の作業用フォルダの中です");
    case LeftOutReason::PartFile:
        return QStringLiteral("Quillmere が保存の途中で作る一時ファイルです");
    case LeftOutReason::NameTooLong:
        return QStringLiteral("Windows 用に直した名前が、名前の長さの上限（255 バイト）を超えます");
    case LeftOutReason::EmptyFolderTakenForPattern:
        return QStringLiteral("名前の「[」「]」のため、空のフォルダーとしてアーカイブに記録できません");
    }
    return {};
}

QString JobReportText::warning(const WarnedItem& item)
{
    switch (item.warning) {
    case WindowsWarning::ControlCharacter:
        return QStringLiteral("制御文字が入っています");
    case WindowsWarning::PathTooLong:
        return QStringLiteral("パスが %1 文字あり、60 文字ほどの展開先フォルダーの下では 260 文字に達します")
            .arg(item.length);
    case WindowsWarning::DateOutOfRange: {
        // A file system may hold times no calendar shows: then its seconds.
        const QDateTime when = QDateTime::fromSecsSinceEpoch(item.modified);
        const QString shown = when.isValid() ? when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))
                                             : QStringLiteral("1970 年から %1 秒").arg(qint64(item.modified));
        return QStringLiteral("日時（%1）は ZIP に記録できる範囲（1980〜2107 年）の外のため、最も近い日時で記録しました")
            .arg(shown);
    }
    }
    return {};
}

QString JobReportText::renaming(const RenamedItem& item)
{
    QStringList why;
    if (item.replacedCharacters)
        why << QStringLiteral("Windows で使えない文字を「_」に置き換え");
    if (item.substituted)
        why << QStringLiteral("Windows の文字コードにない文字を慣用の表記に置き換え");
    if (item.madeCreatable)
        why << QStringLiteral("Windows が作れない名前（CON などの予約名、末尾の点や空白）に「_」を使用");
    if (item.transliterated)
        why << QStringLiteral("Windows の文字コードにない文字を置き換え");
    if (item.readAsJapanese)
        why << QStringLiteral("UTF-8 でない名前を Windows の日本語（シフト JIS）の名前として読み取り");
    if (item.shortened)
        why << QStringLiteral("長くなった名前を上限（255 バイト）に収まるよう短縮");
    if (item.keptFromExclusion)
        why << QStringLiteral("「.DS_Store」を含む名前は除外されるため、その「.」を「_」に置き換え");
    if (item.numbered)
        why << QStringLiteral("同じ名前と区別するため番号を追加");
    return why.join(QStringLiteral("、"));
}

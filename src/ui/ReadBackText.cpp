#include "ReadBackText.h"

#include "ArchiveCheck.h"
#include "Cp932Name.h"
#include "EntryCheck.h"
#include "JobStatusText.h"
#include "ZipDirectory.h"

#include <array>

namespace {

const QString kReadBack = QStringLiteral("できたアーカイブを読み直したところ、");

// The entry's name as Windows will show it.
QString shownName(const std::string& stored)
{
    return JobStatusText::inSentence(Cp932Name().toUtf8(stored));
}

} // namespace

std::optional<QString> ReadBackText::inJapanese(const std::string& description)
{
    if (description.starts_with(ZipDirectory::kUnreadable))
        return kReadBack + QStringLiteral("ZIP ファイルとして読めませんでした");
    if (description.starts_with(ArchiveCheck::kUtf8Name))
        return kReadBack
            + QStringLiteral("%1 の名前が Windows の日本語（シフト JIS）でない形で記されていました")
                  .arg(shownName(description.substr(std::string(ArchiveCheck::kUtf8Name).size())));
    const std::string count = ArchiveCheck::kEntryCount, expected = ArchiveCheck::kEntriesExpected;
    if (description.starts_with(count)) {
        const size_t numberEnd = description.find(expected, count.size());
        if (numberEnd == std::string::npos)
            return std::nullopt;
        const size_t wanted = numberEnd + expected.size();
        return kReadBack
            + QStringLiteral("入っている項目が %1 個で、入るはずの %2 個と合いませんでした")
                  .arg(QString::fromStdString(description.substr(count.size(), numberEnd - count.size())),
                       QString::fromStdString(description.substr(wanted, description.find(' ', wanted) - wanted)));
    }
    if (description.starts_with(EntryCheck::kEntry))
        return aboutEntry(description);
    return std::nullopt;
}

std::optional<QString> ReadBackText::aboutEntry(const std::string& description)
{
    struct Finding {
        const char* what;
        QString sentence;
    };
    const std::array<Finding, 6> findings{{
        {EntryCheck::kWrongSize, QStringLiteral("%1 のデータが正しくありませんでした（チェックサムかサイズが違います）")},
        {EntryCheck::kDamaged, QStringLiteral("%1 のデータが壊れているか、パスワードで開けませんでした")},
        {EntryCheck::kDamagedPlain, QStringLiteral("%1 のデータが壊れていました")},
        {EntryCheck::kNotReadable, QStringLiteral("%1 を読み取れませんでした")},
        {EntryCheck::kEncrypted, QStringLiteral("暗号化しないはずの %1 が暗号化されていました")},
        {ArchiveCheck::kNotEncrypted, QStringLiteral("%1 が暗号化されていませんでした")},
    }};
    // The name ends where the first finding begins.
    const size_t nameAt = std::string(EntryCheck::kEntry).size();
    const Finding* found = nullptr;
    size_t nameEnd = std::string::npos;
    for (const Finding& finding : findings) {
        const size_t at = description.find(finding.what, nameAt);
        if (at < nameEnd) {
            nameEnd = at;
            found = &finding;
        }
    }
    if (!found)
        return std::nullopt;
    return kReadBack + found->sentence.arg(shownName(description.substr(nameAt, nameEnd - nameAt)));
}

#include "JobStatusText.h"

#include "ArchiveCheck.h"
#include "FileManager.h"
#include "JobReportText.h"
#include "PathText.h"
#include "ProgramFailureText.h"
#include "ReadBackText.h"
#include "Utf8Sequence.h"
#include "WorkPathText.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>

QString JobStatusText::phase(JobPhase phase)
{
    switch (phase) {
    case JobPhase::ChoosingFolder:
        return QStringLiteral("保存先を選択中");
    case JobPhase::Copying:
        return QStringLiteral("コピー中");
    case JobPhase::Writing:
        return QStringLiteral("圧縮中");
    case JobPhase::Encrypting:
        return QStringLiteral("暗号化中");
    case JobPhase::Verifying:
        return QStringLiteral("確認中");
    case JobPhase::Delivering:
        return QStringLiteral("保存中");
    }
    return {};
}

QString JobStatusText::phaseNoun(JobPhase phase)
{
    switch (phase) {
    case JobPhase::ChoosingFolder:
        return QStringLiteral("保存先の選択");
    case JobPhase::Copying:
        return QStringLiteral("項目の準備（コピー）");
    case JobPhase::Writing:
        return QStringLiteral("圧縮");
    case JobPhase::Encrypting:
        return QStringLiteral("暗号化");
    case JobPhase::Verifying:
        return QStringLiteral("作成したアーカイブの確認");
    case JobPhase::Delivering:
        return QStringLiteral("保存先への保存");
    }
    return {};
}

QString JobStatusText::ready()
{
    return QStringLiteral("準備完了: ファイルやフォルダをドロップするか、上のボタンで選んでください");
}

QString JobStatusText::waiting(int count)
{
    return QStringLiteral("待機中: %1 件").arg(count);
}

QString JobStatusText::waitingEntry(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return {};
    const std::string& first = paths.front();
    const std::string name = PathText::lastComponent(first);
    const QString shown = path(name.empty() ? first : name);
    const QString folder = path(PathText::parentFolder(first));
    if (paths.size() == 1)
        return QStringLiteral("%1（%2）").arg(shown, folder);
    // One arg() for all: a name may hold "%1" itself.
    return QStringLiteral("%1 ほか %2 項目（%3）").arg(shown, QString::number(paths.size() - 1), folder);
}

QString JobStatusText::removedFromWaiting(const QString& entry, int remaining)
{
    return QStringLiteral("待機から外しました: %1。待機中は残り %2 件です").arg(entry, QString::number(remaining));
}

QString JobStatusText::path(const std::string& bytes)
{
    return Utf8Sequence::decoded(bytes);
}

QString JobStatusText::inSentence(const std::string& bytes)
{
    const QString text = path(bytes);
    const QList<uint> codes = text.toUcs4();
    const bool reorders = std::any_of(codes.begin(), codes.end(), [](uint code) {
        switch (QChar::direction(char32_t(code))) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirLRE:
        case QChar::DirLRO:
        case QChar::DirPDF:
        case QChar::DirRLI:
        case QChar::DirLRI:
        case QChar::DirFSI:
        case QChar::DirPDI:
            return true;
        default:
            return false;
        }
    });
    // First strong isolate ... pop directional isolate.
    return reorders ? QChar(0x2068) + text + QChar(0x2069) : text;
}

QString JobStatusText::headline(const JobOutcome& outcome)
{
    switch (outcome.kind) {
    case JobOutcome::Kind::Delivered: {
        const QString name = inSentence(PathText::lastComponent(outcome.archivePath));
        if (outcome.lostSomething())
            return QStringLiteral("%1 を作成しましたが、%2 個の項目を入れられませんでした")
                .arg(name)
                .arg(lostCount(outcome.report));
        return QStringLiteral("%1 を作成しました").arg(name);
    }
    case JobOutcome::Kind::Failed:
        return failureHeadline(outcome);
    case JobOutcome::Kind::Cancelled:
        return {};
    case JobOutcome::Kind::Stopped:
        return QStringLiteral("キャンセルしました");
    }
    return {};
}

QString JobStatusText::summary(const JobOutcome& outcome)
{
    if (outcome.kind != JobOutcome::Kind::Failed && !outcome.lostSomething())
        return {};
    if (outcome.firstItem.empty())
        return headline(outcome);
    return QStringLiteral("%1: %2").arg(inSentence(outcome.firstItem), headline(outcome));
}

QString JobStatusText::remedy(const JobOutcome& outcome, PasswordRule::Problem password)
{
    switch (outcome.kind) {
    case JobOutcome::Kind::Delivered: {
        QString text = QStringLiteral("保存先: %1").arg(inSentence(PathText::parentFolder(outcome.archivePath)));
        QStringList facts;
        const QString contents = JobStatusText::contents(outcome.report);
        if (!contents.isEmpty())
            facts << contents;
        // Said both ways: a password shown in a greyed-out field protects
        // nothing, and a screen reader does not tell the grey.
        facts << (outcome.encrypted ? QStringLiteral("パスワードで暗号化済み") : QStringLiteral("暗号化なし"));
        if (!facts.isEmpty())
            text += QLatin1Char('\n') + facts.join(QStringLiteral("、"));
        const bool renamed = !outcome.report.renamed.empty();
        if (renamed && outcome.lostSomething())
            text += QStringLiteral("\n名前を変えた項目と入れられなかった項目は「詳細」で確認できます。");
        else if (renamed)
            text += QStringLiteral("\n変えた名前は「詳細」で確認できます。");
        else if (outcome.lostSomething())
            text += QStringLiteral("\n入れられなかった項目は「詳細」で確認できます。");
        // What Windows may not extract as it was is the sender's to know
        // before sending, even where nothing else happened.
        if (!outcome.report.warnings.empty())
            text += QStringLiteral("\nWindows で展開できないおそれのある項目とその理由も「詳細」で確認できます。");
        return text;
    }
    case JobOutcome::Kind::Failed:
        return failureRemedy(outcome, password);
    case JobOutcome::Kind::Cancelled:
        return {};
    case JobOutcome::Kind::Stopped:
        return QStringLiteral("アーカイブは保存していません。");
    }
    return {};
}

int JobStatusText::lostCount(const JobReport& report)
{
    return static_cast<int>(std::count_if(report.leftOut.begin(), report.leftOut.end(), [](const LeftOutItem& item) {
        return item.reason != LeftOutReason::SameItem;
    }));
}

QString JobStatusText::contents(const JobReport& report)
{
    // A delivered archive holds something: no count means the job did not
    // count, and "0 個" would mislead.
    QStringList facts;
    if (report.fileCount + report.folderCount > 0)
        facts << QStringLiteral("ファイル %1 個、フォルダ %2 個").arg(report.fileCount).arg(report.folderCount);
    if (!report.renamed.empty())
        facts << QStringLiteral("%1 個の名前を変えました").arg(report.renamed.size());
    if (const int lost = lostCount(report))
        facts << QStringLiteral("%1 個は入れられませんでした").arg(lost);
    if (!report.warnings.empty())
        facts << QStringLiteral("%1 個は Windows で元のとおりに展開できないおそれがあります").arg(report.warnings.size());
    return facts.join(QStringLiteral("、"));
}

QString JobStatusText::receiverNote(const JobOutcome& outcome)
{
    if (outcome.kind != JobOutcome::Kind::Delivered || !outcome.encrypted)
        return {};
    return QStringLiteral("受け取る人はエクスプローラーで開いてパスワードを入力します。"
                          "パスワードは同じメールに書かず、別の方法で伝えてください。");
}

QString JobStatusText::failureHeadline(const JobOutcome& outcome)
{
    switch (outcome.cause) {
    case FailureCause::WriterMissing:
        return QStringLiteral("アーカイブを作成するための PHP（php-cli と php-zip）が見つかりません");
    case FailureCause::EncryptorMissing:
        return QStringLiteral("暗号化に使う expect または zipcloak が見つかりません");
    case FailureCause::DestinationNotWritable:
        return QStringLiteral("保存先のフォルダに書き込めませんでした");
    case FailureCause::DestinationInWorkFolder:
        return QStringLiteral("保存先が Quillmere 自身の作業用フォルダの中のため、作成しませんでした");
    case FailureCause::DestinationPathTooLong:
        return QStringLiteral("保存先のフォルダの場所（パス）が長すぎるため、作成しませんでした");
    case FailureCause::DestinationFull:
        return QStringLiteral("保存先のディスクに空きがありません");
    case FailureCause::DestinationFileTooLarge:
        return QStringLiteral("保存先のディスクには 4 GB を超えるファイルを保存できません");
    case FailureCause::NothingToArchive:
        return QStringLiteral("アーカイブに入れられる項目がありませんでした");
    case FailureCause::WorkFolderRefused:
        return QStringLiteral("作業用フォルダ ~/.quillmere を安全に使えないため、作成しませんでした");
    case FailureCause::PasswordRefused:
        return QStringLiteral("このパスワードでは暗号化できないため、作成しませんでした");
    case FailureCause::VerificationFailed:
        return QStringLiteral("作成したアーカイブが正しく読めなかったため、保存しませんでした");
    case FailureCause::WorkFolderFull:
        return QStringLiteral("作業用フォルダ ~/.quillmere のディスクに空きが足りないため、作成しませんでした");
    case FailureCause::WorkFolderFailed:
        return QStringLiteral("作業用フォルダ ~/.quillmere に書き込めなかったため、作成しませんでした");
    case FailureCause::ItemChanged:
        return QStringLiteral("作成中にファイルが削除・移動・変更されたため、アーカイブを保存しませんでした");
    case FailureCause::OptionsUnreadable:
        return QStringLiteral("保存されている設定を読み込めないため、暗号化するかどうかが分からず、作成しませんでした");
    case FailureCause::SystemLimit:
        return QStringLiteral("同時に開けるファイルやプロセスの数、メモリなど、システムの上限に達したため、作成できませんでした");
    case FailureCause::Other:
        break;
    }
    switch (outcome.failedIn) {
    case JobPhase::ChoosingFolder:
        return QStringLiteral("保存先を選べませんでした");
    case JobPhase::Copying:
        return QStringLiteral("ファイルをコピーできませんでした");
    case JobPhase::Writing:
        return QStringLiteral("アーカイブを作成できませんでした");
    case JobPhase::Encrypting:
        return QStringLiteral("暗号化できませんでした。暗号化されていないアーカイブは保存していません");
    case JobPhase::Verifying:
        return QStringLiteral("作成したアーカイブを確認できませんでした。保存していません");
    case JobPhase::Delivering:
        return QStringLiteral("アーカイブを保存先に移動できませんでした");
    }
    return {};
}

QString JobStatusText::failureRemedy(const JobOutcome& outcome, PasswordRule::Problem password)
{
    switch (outcome.cause) {
    case FailureCause::WriterMissing:
        return QStringLiteral("php-cli と php-zip のパッケージをインストールしてから、もう一度お試しください。");
    case FailureCause::EncryptorMissing:
        return QStringLiteral("expect と zip のパッケージをインストールしてから、もう一度お試しください。");
    case FailureCause::DestinationNotWritable:
        return QStringLiteral("保存先のフォルダがあり、書き込みが許されているかを確かめるか、「保存先を選択する」で別のフォルダを選んでください。");
    case FailureCause::DestinationInWorkFolder:
        return QStringLiteral("そこに置いたものは次の起動で消えます。「保存先を選択する」で別のフォルダを選んでください。");
    case FailureCause::DestinationPathTooLong:
        return QStringLiteral("フォルダが深すぎて、システムが扱えるパスの長さ（4096 バイト）を超えています。"
                              "「保存先を選択する」で、もっと浅い場所にあるフォルダを選んでください。");
    case FailureCause::DestinationFileTooLarge:
        return QStringLiteral("保存先のディスクは FAT 形式のため、4 GB を超えるアーカイブを保存できません。"
                              "「保存先を選択する」で別のディスクのフォルダを選ぶか、項目を分けてアーカイブしてください。");
    case FailureCause::DestinationFull:
        return shortage(outcome)
            + QStringLiteral("不要なファイルを削除して空きを作るか、「保存先を選択する」で別のディスクのフォルダを選んでください。");
    case FailureCause::WorkFolderFull:
        return shortage(outcome) + QStringLiteral("ホームフォルダのディスクに空きを作ってから、もう一度お試しください。");
    case FailureCause::WorkFolderFailed:
        return QStringLiteral("ホームフォルダのディスクに書き込めるかを確かめてから、もう一度お試しください。");
    case FailureCause::ItemChanged:
        return QStringLiteral("どのファイルかは「詳細」で確認できます。ファイルの移動や変更が終わってから、もう一度お試しください。");
    case FailureCause::OptionsUnreadable:
        return QStringLiteral("「パスワードで暗号化する」で暗号化するかどうかを選んでから、もう一度お試しください。");
    case FailureCause::SystemLimit:
        return QStringLiteral("項目に問題はありません。ほかのプログラムを終了するか、上限（ulimit -n、ulimit -u など）を上げてから、"
                              "もう一度お試しください。");
    case FailureCause::NothingToArchive:
        return QStringLiteral("入れられなかった項目とその理由は「詳細」で確認できます。");
    case FailureCause::WorkFolderRefused:
        return QStringLiteral("ホームフォルダの .quillmere がシンボリックリンクでなく、自分のものであることを確かめてください。");
    case FailureCause::PasswordRefused: {
        const QString why = passwordProblem(password);
        return why.isEmpty() ? QStringLiteral("パスワードを確かめてから、もう一度お試しください。") : why;
    }
    case FailureCause::VerificationFailed:
        return QStringLiteral("もう一度お試しください。繰り返すときは、保存先のディスクを確かめてください。");
    case FailureCause::Other:
        break;
    }
    return QStringLiteral("もう一度お試しください。繰り返すときは「詳細」の内容を管理者に伝えてください。");
}

QString JobStatusText::shortage(const JobOutcome& outcome)
{
    if (outcome.spaceFolder.empty())
        return {};
    const QString folder = inSentence(outcome.spaceFolder);
    if (outcome.bytesMissing == 0)
        return QStringLiteral("%1 のディスクに空きがありません。").arg(folder);
    return QStringLiteral("%1 のディスクにあと %2 の空きが必要です。")
        .arg(folder, QLocale(QLocale::Japanese).formattedDataSize(qint64(outcome.bytesMissing)));
}

QString JobStatusText::technicalDetail(const JobOutcome& outcome)
{
    if (outcome.kind != JobOutcome::Kind::Failed)
        return {};
    QStringList lines{QStringLiteral("失敗した段階: %1").arg(phaseNoun(outcome.failedIn))};
    // For these the description is only the log's English for what the
    // headline says; the others carry what the system answered.
    const bool ownWords = outcome.cause == FailureCause::NothingToArchive
        || outcome.cause == FailureCause::DestinationInWorkFolder || outcome.cause == FailureCause::PasswordRefused;
    // An item that changed is named by its path alone: what the headline
    // asks the user to look for.
    const std::optional<std::string> changed = outcome.cause == FailureCause::ItemChanged
        ? ArchiveCheck::changedPathOf(outcome.description)
        : std::nullopt;
    std::optional<QString> programFailure = ProgramFailureText::inJapanese(outcome.description);
    if (!programFailure)
        programFailure = ReadBackText::inJapanese(outcome.description);
    if (changed)
        lines << QStringLiteral("作成中に変わった項目: %1").arg(inSentence(*changed));
    else if (programFailure)
        lines << QStringLiteral("何が起きたか: %1").arg(*programFailure);
    else if (!outcome.description.empty() && !ownWords)
        lines << QStringLiteral("システムからの説明: %1").arg(WorkPathText::withoutWorkPaths(outcome.description));
    // What the job found on the way, the items it could not take above all.
    const JobReport& report = outcome.report;
    if (!report.leftOut.empty() || !report.renamed.empty() || !report.warnings.empty())
        lines << QString() << JobReportText::details(report);
    return lines.join(QLatin1Char('\n'));
}

QString JobStatusText::passwordProblem(PasswordRule::Problem problem)
{
    switch (problem) {
    case PasswordRule::Problem::None:
        return {};
    case PasswordRule::Problem::Empty:
        return QStringLiteral("パスワードが空です。入力するか「自動生成」を押してください。");
    case PasswordRule::Problem::OutsideCp932:
        return QStringLiteral("パスワードに Windows の日本語（シフト JIS）にない文字（絵文字など）が入っています。"
                              "その文字を取り除くか、別の文字にしてください。");
    case PasswordRule::Problem::TooLong:
        // zipcloak counts code page 932 bytes: two for a Japanese character.
        return QStringLiteral("パスワードが長すぎます。半角 %1 文字（日本語はおよそ %2 文字）までにしてください。")
            .arg(PasswordRule::kMaxLength)
            .arg(PasswordRule::kMaxLength / 2);
    case PasswordRule::Problem::ControlCharacter:
        return QStringLiteral("パスワードに改行やタブなどの制御文字は使えません。取り除いてください。");
    case PasswordRule::Problem::NotUtf8:
        return QStringLiteral("パスワードが UTF-8 の文字になっていません。UTF-8 で渡してください。");
    }
    return {};
}

QString JobStatusText::encryptionUnknown()
{
    return QStringLiteral("保存されている設定を読み込めなかったため、暗号化するかどうかが分かりません。"
                          "「パスワードで暗号化する」をオンかオフにするまで、アーカイブは作成しません。");
}

QString JobStatusText::passwordWindowsWarning()
{
    return QStringLiteral("日本語の文字が入っています。受け取る人は日本語版 Windows で、このとおりの文字を入力して開きます"
                          "（Mac や他の言語の Windows では開けないことがあります）。");
}

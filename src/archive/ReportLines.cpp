#include "ReportLines.h"

#include "LogPrefix.h"

#include <ctime>

const char* ReportLines::reasonText(LeftOutReason reason)
{
    switch (reason) {
    case LeftOutReason::Missing:
        return "missing";
    case LeftOutReason::Unreadable:
        return "unreadable";
    case LeftOutReason::DanglingLink:
        return "link to nothing";
    case LeftOutReason::LinkLoop:
        return "link loop";
    case LeftOutReason::SpecialFile:
        return "not a regular file";
    case LeftOutReason::CopyFailed:
        return "could not be staged";
    case LeftOutReason::ExcludedName:
        return "name holds .DS_Store";
    case LeftOutReason::SameItem:
        return "given more than once, archived once";
    case LeftOutReason::LinkToFolder:
        return "link to a folder";
    case LeftOutReason::SystemItem:
        return "part of the running system";
    case LeftOutReason::PathTooLong:
        return "path too long";
    case LeftOutReason::WorkFolder:
        return "the program's own work folder";
    case LeftOutReason::PartFile:
        return "an archive the program has not finished delivering";
    case LeftOutReason::NameTooLong:
        return "name too long once changed";
    case LeftOutReason::EmptyFolderTakenForPattern:
        return "empty folder whose name the archive writer reads as a pattern";
    }
    return "";
}

const char* ReportLines::causeText(FailureCause cause)
{
    switch (cause) {
    case FailureCause::Other:
        return "failed";
    case FailureCause::WriterMissing:
        return "php or its zip extension is missing";
    case FailureCause::EncryptorMissing:
        return "expect or zipcloak is missing";
    case FailureCause::DestinationNotWritable:
        return "the destination folder cannot be written";
    case FailureCause::DestinationInWorkFolder:
        return "the destination is in the work folder";
    case FailureCause::DestinationPathTooLong:
        return "the destination path is too long";
    case FailureCause::DestinationFull:
        return "no space in the destination folder";
    case FailureCause::DestinationFileTooLarge:
        return "the destination's file system holds no file as large as the archive";
    case FailureCause::NothingToArchive:
        return "nothing to archive";
    case FailureCause::WorkFolderRefused:
        return "the work folder cannot be used safely";
    case FailureCause::PasswordRefused:
        return "the password cannot be used";
    case FailureCause::VerificationFailed:
        return "the archive did not read back";
    case FailureCause::WorkFolderFull:
        return "no space in the work folder";
    case FailureCause::WorkFolderFailed:
        return "the work folder failed";
    case FailureCause::ItemChanged:
        return "an item changed while the job ran";
    case FailureCause::OptionsUnreadable:
        return "the stored options cannot be read";
    case FailureCause::SystemLimit:
        return "the system's limits were reached";
    }
    return "";
}

const char* ReportLines::warningText(WindowsWarning warning)
{
    switch (warning) {
    case WindowsWarning::ControlCharacter:
        return "control character";
    case WindowsWarning::PathTooLong:
        return "reaches 260 characters below a 60-character extraction folder";
    case WindowsWarning::DateOutOfRange:
        return "a ZIP header holds only 1980 to 2107: stored as the nearest time it holds";
    }
    return "";
}

std::string ReportLines::warningDetail(const WarnedItem& item)
{
    if (item.warning == WindowsWarning::PathTooLong)
        return std::to_string(item.length) + " characters: " + warningText(item.warning);
    if (item.warning == WindowsWarning::DateOutOfRange)
        return "dated " + localDateText(item.modified) + ": " + warningText(item.warning);
    return warningText(item.warning);
}

std::string ReportLines::dateText(std::time_t when)
{
    struct tm utc {};
    char text[64];
    if (!::gmtime_r(&when, &utc) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return std::to_string(when) + " seconds after 1970-01-01T00:00:00Z";
    return text;
}

std::string ReportLines::localDateText(std::time_t when)
{
    struct tm local {};
    char text[64];
    if (!::localtime_r(&when, &local) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return dateText(when);
    // "+0900" as ISO 8601 writes it beside a time: "+09:00".
    std::string shown = text;
    shown.insert(shown.size() - 2, ":");
    return shown;
}

std::vector<std::string> ReportLines::leftOut(const JobReport& report)
{
    std::vector<std::string> lines;
    for (const LeftOutItem& item : report.leftOut)
        lines.push_back(LogPrefix::kLeftOut + item.path + " (" + reasonText(item.reason) + "): " + item.detail);
    return lines;
}

std::string ReportLines::refused(const JobOutcome& outcome)
{
    return std::string(LogPrefix::kRefused) + causeText(outcome.cause) + ": " + outcome.description;
}

std::vector<std::string> ReportLines::of(const std::string& archivePath, const JobReport& report)
{
    std::vector<std::string> lines;
    lines.push_back(LogPrefix::kDelivered + archivePath + " (" + std::to_string(report.fileCount) + " files, "
                    + std::to_string(report.folderCount) + " folders)");
    for (const RenamedItem& item : report.renamed)
        lines.push_back(LogPrefix::kRenamed + item.original + " -> " + item.inArchive);
    const std::vector<std::string> left = leftOut(report);
    lines.insert(lines.end(), left.begin(), left.end());
    for (const WarnedItem& item : report.warnings)
        lines.push_back(LogPrefix::kWindowsWarning + item.inArchive + " (" + warningDetail(item) + ")");
    return lines;
}

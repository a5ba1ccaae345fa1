#pragma once

// The fixed beginnings of the lines the application writes to standard
// output. A failure line is its prefix followed directly by the failure's
// description; people and scripts search the output for these texts.
namespace LogPrefix {

// Diagnostic lines of a job.
inline constexpr const char* kWorkRoot = "tmpDirectory: ";
inline constexpr const char* kPollTick = "in scheduledTimer";

// Failures of a job's steps.
inline constexpr const char* kStagingNotRemoved = "move archive.zip error";
inline constexpr const char* kCreateDir = "create dir error:";
inline constexpr const char* kCopy = "copy file or directories error:";
inline constexpr const char* kErrorFilePath = ", error file Path: ";
inline constexpr const char* kFixNames = "on fixProhibitedCharacters error:";
inline constexpr const char* kErrorFileName = ", error fileName: ";
inline constexpr const char* kWriter = "convert charset and create zip error:";
inline constexpr const char* kEncrypt = "grant password error:";
inline constexpr const char* kCleanup = "remove staging folder error:";
inline constexpr const char* kWorkFolder = "work folder error:";
inline constexpr const char* kVerify = "verify archive error:";
inline constexpr const char* kDeliver = "deliver archive error:";

// What a finished job reports, one line per item.
inline constexpr const char* kDelivered = "archive delivered: ";
inline constexpr const char* kRenamed = "renamed: ";
inline constexpr const char* kLeftOut = "left out: ";
inline constexpr const char* kWindowsWarning = "windows warning: ";
inline constexpr const char* kStopped = "job stopped";

// The update check.
inline constexpr const char* kUpdate = "error:";

} // namespace LogPrefix

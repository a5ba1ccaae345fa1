#pragma once

// The fixed beginnings of the lines the application writes to standard
// output. A failure line is its prefix followed directly by the failure's
// description; people and scripts search the output for these texts.
namespace LogPrefix {

// Diagnostic lines of a job.
inline constexpr const char* kWorkRoot = "tmpDirectory: ";
inline constexpr const char* kPollTick = "in scheduledTimer";

// Failures of a job's steps.
inline constexpr const char* kProcessEnd = "the end of process ";
inline constexpr const char* kStagingNotRemoved = "move archive.zip error";
inline constexpr const char* kCreateDir = "create dir error:";
inline constexpr const char* kCopy = "copy file or directories error:";
inline constexpr const char* kErrorFilePath = ", error file Path: ";
inline constexpr const char* kFixNames = "on fixProhibitedCharacters error:";
inline constexpr const char* kErrorFileName = ", error fileName: ";
inline constexpr const char* kWriter = "convert charset and create zip error:";
inline constexpr const char* kEncrypt = "grant password error:";
inline constexpr const char* kCleanup = "remove staging folder error:";
inline constexpr const char* kJournal = "work journal error:";
inline constexpr const char* kVerify = "verify archive error:";
inline constexpr const char* kDeliver = "deliver archive error:";

// What a finished job reports, one line per item.
inline constexpr const char* kDelivered = "archive delivered: ";
inline constexpr const char* kRenamed = "renamed: ";
inline constexpr const char* kLeftOut = "left out: ";
inline constexpr const char* kWindowsWarning = "windows warning: ";
// An encrypted archive whose password only Japanese Windows types as given.
inline constexpr const char* kPasswordNote = "password note: ";
inline constexpr const char* kStopped = "job stopped";
// A waiting job dropped as the application ends, with its first item.
inline constexpr const char* kNotStarted = "job not started: ";
// A job that ended before any work, followed by why: "job refused: nothing
// to archive: ...".
inline constexpr const char* kRefused = "job refused: ";

// The window and the desktop.
inline constexpr const char* kDragOn = "on drag before drop";
inline constexpr const char* kDragOff = "off drag before drop";
inline constexpr const char* kDroppedMissing = "dropped files do not exist.";
inline constexpr const char* kSaveOptions = "save options error:";
// The settings file is there but cannot be read: the options are unknown.
inline constexpr const char* kReadOptions = "read options error:";
inline constexpr const char* kKeyring = "keyring error:";
// Why the password goes into the settings file instead of the keyring.
inline constexpr const char* kPasswordInFile = "password kept in the settings file: ";
inline constexpr const char* kTranslations = "load Qt translations error:";
inline constexpr const char* kWindowModule = "load window error:";
inline constexpr const char* kDesktopModule = "load desktop library error:";
inline constexpr const char* kPictureMissing = "picture not found: ";
inline constexpr const char* kNotification = "notification error:";
inline constexpr const char* kNoNotification = "no desktop notification could be shown: ";
inline constexpr const char* kShowInFileManager = "show in file manager error:";
inline constexpr const char* kOpenFolder = "could not open the folder: ";

// The single running instance and its channel.
inline constexpr const char* kInstanceUnavailable = "single instance unavailable: ";
inline constexpr const char* kInstanceWorkFolder = "single instance unavailable, work folder: ";
inline constexpr const char* kInstanceNotRecorded = "single instance unavailable, channel not recorded: ";
inline constexpr const char* kInstanceCannotListen = "single instance unavailable, cannot listen at ";
inline constexpr const char* kChannelLeftBehind = "single instance channel folder left behind: ";
inline constexpr const char* kChannelTooLong = "single instance channel not used, path too long: ";
inline constexpr const char* kChannelNotUsed = "single instance channel not used: ";
inline constexpr const char* kChannelNotListening = "single instance channel not used, cannot listen at ";
inline constexpr const char* kChannelNotMadeTooLong = "single instance channel not made, path too long: ";
inline constexpr const char* kChannelNotMade = "single instance channel not made: ";
inline constexpr const char* kRecordLeftBehind = "single instance record left behind: ";
inline constexpr const char* kNotConfirmed = "the running Quillmere did not confirm the files: ";
inline constexpr const char* kStoppedWaiting = "stopped waiting for the running Quillmere: ";
inline constexpr const char* kNotReached = "the running Quillmere could not be reached: ";
inline constexpr const char* kOnOtherDisplay = "the running Quillmere shows its window on another display: ";
inline constexpr const char* kMalformedMessage = "ignored a malformed message on ";

// The application's life.
inline constexpr const char* kSignalHandling = "signal handling unavailable: ";
inline constexpr const char* kEndingOnSignal = "ending on signal ";
// --json could not keep standard output for the report alone.
inline constexpr const char* kDivertOutput = "divert standard output error:";
// --json's report could not be written.
inline constexpr const char* kWriteReport = "write report error:";

// The update check.
inline constexpr const char* kUpdateCheck = "update check: ";
inline constexpr const char* kUpdateError = "error:";

} // namespace LogPrefix

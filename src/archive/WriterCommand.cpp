#include "WriterCommand.h"

#include "ShellWord.h"
#include "WorkFolders.h"

namespace {

// The php program that packs the content folder "archive": entry names go
// through iconv from decomposed UTF-8 to code page 932, ".DS_Store" files are
// left out and folders without visible entries get entries of their own.
// Split around the archive name, which stands between double quotes.
const char* const kProgramBeforeArchiveName =
    R"PHP(<?php function isDirEmpty($dir) { if (!is_readable($dir)) return NULL; return (count(glob($dir . "/*"))); } $za = new ZipArchive(); $za->open(")PHP";

const char* const kProgramAfterArchiveName =
    R"PHP(", ZIPARCHIVE::CREATE); $iterator = new RecursiveDirectoryIterator("archive"); $iterator = new RecursiveIteratorIterator($iterator); $list = array(); foreach ($iterator as $fileinfo) { if ($fileinfo->isFile()) { if (strpos($fileinfo->getPathname(),".DS_Store") === false) { $za->addFile($fileinfo->getPathname(), iconv("UTF-8-MAC", "CP932//TRANSLIT", $fileinfo->getPathname())); } } else { if (substr($fileinfo->getPathname(), -3) == "/..") { $dirName = substr($fileinfo->getPathname() , 0, strlen($fileinfo->getPathname()) - 2); if (isDirEmpty($dirName) == 0) { $za->addEmptyDir(iconv("UTF-8-MAC", "CP932//TRANSLIT", $dirName)); }} } } $za->close();)PHP";

} // namespace

std::string WriterCommand::text(const WorkFolders& folders)
{
    // The work folders' names are plain; only a home folder path with
    // characters the shell reads needs quoting.
    return "cd " + ShellWord::quoteIfNeeded(folders.outputFolder()) + "; php";
}

std::string WriterCommand::program(const std::string& archiveName)
{
    return kProgramBeforeArchiveName + archiveName + kProgramAfterArchiveName;
}

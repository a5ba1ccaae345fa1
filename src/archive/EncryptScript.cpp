#include "EncryptScript.h"

#include "TclText.h"
#include "WorkFolders.h"

namespace {

// send takes a text starting with "-" for an option unless told otherwise.
std::string sendText(const std::string& password)
{
    const std::string escaped = TclText::escape(password);
    return password.starts_with("-") ? "-- \"" + escaped : "\"" + escaped;
}

// After the second answer the script waits, without a time limit, for
// zipcloak to end, and moves the archive only when zipcloak succeeded; a
// failed move ends the script with its own status as well.
std::string waitFor(int failureStatus)
{
    return "set result [wait]; if {[lindex $result 2] != 0 || [lindex $result 3] != 0} {exit "
        + std::to_string(failureStatus) + "}; ";
}

} // namespace

std::string EncryptScript::text(const std::string& destDir, const std::string& password,
                                const std::string& tmpDirectory, const std::string& archiveName,
                                const std::string& outputDirName)
{
    const std::string archivePath = TclText::escape(tmpDirectory + "/" + WorkFolders::STAGING_DIR_NAME + "/"
                                                    + outputDirName + "/" + archiveName);
    std::string script = "set timeout 10; spawn zipcloak " + archivePath;
    script += "; expect \"Enter password:\"; sleep 1; send " + sendText(password) + "\n";
    script += "\"; expect \"Verify password:\"; sleep 1; send " + sendText(password) + "\n";
    script += "\"; set timeout -1; expect eof; " + waitFor(kZipcloakFailed);
    script += "spawn mv " + archivePath + " " + TclText::escape(destDir + "/");
    script += "; expect eof; " + waitFor(kMoveFailed) + "exit 0;";
    return script;
}

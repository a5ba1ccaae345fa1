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

// A child that ended with a status other than 0, or was killed (wait then
// reports more than four fields), failed.
std::string exitUnlessSucceeded(int failureStatus)
{
    return "set result [wait]; if {[llength $result] > 4 || [lindex $result 2] != 0 || [lindex $result 3] != 0} "
           "{exit " + std::to_string(failureStatus) + "}; ";
}

} // namespace

std::string EncryptScript::text(const std::string& destDir, const std::string& password,
                                const std::string& tmpDirectory, const std::string& archiveName,
                                const std::string& outputDirName)
{
    const std::string archivePath = TclText::escape(tmpDirectory + "/" + WorkFolders::STAGING_DIR_NAME + "/"
                                                    + outputDirName + "/" + archiveName);
    // The children ignore the hangup that expect sends when their output
    // closes, so the status wait reports is the one they ended with.
    std::string script = "set timeout 10; spawn -ignore HUP zipcloak " + archivePath;
    script += "; expect \"Enter password:\"; sleep 1; send " + sendText(password) + "\n";
    script += "\"; expect \"Verify password:\"; sleep 1; send " + sendText(password) + "\n";
    // zipcloak takes as long as the archive needs: no time limit, but a
    // prompt that comes again means an answer was lost or refused (zipcloak
    // takes at most 80 characters). The script then ends the prompt's line in
    // the transcript expect echoes, and ends zipcloak, which ignores the
    // hangup and would wait for ever. (The pattern-action pairs stand as
    // separate words: expect reads one braced word on one line as a pattern.)
    const std::string givingUp = "{send_user \"\\r\\n\"; exec /bin/kill [exp_pid]; wait; exit "
        + std::to_string(kZipcloakFailed) + "}";
    script += "\"; expect \"Enter password:\" " + givingUp + " \"Verify password:\" " + givingUp
        + " timeout exp_continue eof; ";
    script += exitUnlessSucceeded(kZipcloakFailed);
    script += "set timeout -1; spawn -ignore HUP mv " + archivePath + " " + TclText::escape(destDir + "/");
    script += "; expect eof; " + exitUnlessSucceeded(kMoveFailed) + "exit 0;";
    return script;
}

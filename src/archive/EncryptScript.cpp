#include "EncryptScript.h"

#include "TclText.h"

namespace {

// A child that ended with a status other than 0, or was killed (wait then
// reports more than four fields), failed.
std::string exitUnlessSucceeded(int failureStatus)
{
    return "set result [wait]; if {[llength $result] > 4 || [lindex $result 2] != 0 || [lindex $result 3] != 0} "
           "{exit " + std::to_string(failureStatus) + "}; ";
}

// A procedure that returns once the terminal tty no longer echoes, which
// zipcloak turns off just before it reads an answer; it gives up when that
// does not happen within the script's time-out. The modes are read as stty
// prints them: "-echo" is the flag off.
std::string silenceWait()
{
    return "proc awaitSilence {tty} {global timeout; set until [expr {[clock milliseconds] + $timeout * 1000}]; "
           "while {[catch {exec stty -a < $tty} modes] || [lsearch -exact [regexp -all -inline {\\S+} $modes] "
           "-echo] < 0} {if {[clock milliseconds] > $until} giveUp; after 2}}; ";
}

} // namespace

std::string EncryptScript::text(const std::string& archivePath, const std::string& target)
{
    const std::string archive = TclText::escape(archivePath);
    const std::string password = std::string("$env(") + kPasswordVariable + ")";
    // The variable holds the code page 932 bytes in hexadecimal: Tcl would
    // read raw bytes in it through the locale's encoding. binary format
    // makes each byte one character, and the binary encoding of zipcloak's
    // channel writes each such character as its byte (in a UTF-8 locale,
    // send would otherwise write 0x83 as C2 83).
    std::string script = "set timeout 10; set password [binary format H* " + password + "]; unset "
        + password.substr(1) + "; ";
    // Giving up ends the prompt's line in the transcript expect echoes, and
    // ends zipcloak, which ignores the hangup and would wait for ever.
    script += "proc giveUp {} {send_user \"\\r\\n\"; exec /bin/kill [exp_pid]; wait; exit "
        + std::to_string(kZipcloakFailed) + "}; ";
    script += silenceWait();
    // The children ignore the hangup that expect sends when their output
    // closes, so the status wait reports is the one they ended with.
    script += "spawn -ignore HUP zipcloak " + archive + "; fconfigure $spawn_id -encoding binary";
    script += "; set tty $spawn_out(slave,name)";
    // zipcloak writes its prompt, then turns echo off, discarding what was
    // typed before, and only then reads: each answer waits for both. A
    // prompt that never comes is not answered: typed at a terminal that
    // still echoes, the password would stand in the transcript.
    // "--": a password starting with "-" is typed, not taken for an option.
    const std::string answer = " {awaitSilence $tty} timeout giveUp; send -- \"$password\n\"";
    script += "; expect \"Enter password:\"" + answer;
    script += "; expect \"Verify password:\"" + answer;
    // zipcloak takes as long as the archive needs: no time limit, but a
    // prompt that comes again means an answer was lost or refused (zipcloak
    // takes at most 80 characters). (The pattern-action pairs stand as
    // separate words: expect reads one braced word on one line as a pattern.)
    script += "; expect \"Enter password:\" giveUp \"Verify password:\" giveUp timeout exp_continue eof; ";
    script += exitUnlessSucceeded(kZipcloakFailed);
    // -n: mv never replaces a file, and never asks whether to (it runs on a
    // terminal here, where it would).
    script += std::string("set timeout -1; ") + kMoveCommand + archive + " " + TclText::escape(target);
    script += "; expect eof; " + exitUnlessSucceeded(kMoveFailed) + "exit 0;";
    // expect ends with 0 on an error the script does not catch ("couldn't
    // execute \"mv\"", with no mv on the search path), which would read as
    // success. The error's text says which program; the password is never
    // in it.
    return "if {[catch {" + script + "} problem]} {send_user -- \"$problem\\r\\n\"; exit "
        + std::to_string(kScriptFailed) + "}";
}

std::string EncryptScript::hexOf(const std::string& password)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(password.size() * 2);
    for (const char c : password) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

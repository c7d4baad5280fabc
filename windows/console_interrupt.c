/*
 * Ctrl-C in the console, as Windows delivers it: starts the tool in this
 * program's console, compressing a pipe that stays open into OUTPUT, waits
 * until the tool has made its temporary file beside OUTPUT, and sends
 * CTRL_C_EVENT to every process of the console with GenerateConsoleCtrlEvent.
 * The tool must end as a program interrupted by Ctrl-C ends
 * (STATUS_CONTROL_C_EXIT) and leave neither OUTPUT nor the temporary file.
 * The verdict goes to LOG, since the console is the test's terminal.
 * Exit status 0, 1 when a check failed, 77 when there is no console to send
 * the event through (no terminal).
 * Usage: console_interrupt TOOL.exe OUTPUT LOG   (in the directory of OUTPUT)
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

enum { kWaitMilliseconds = 120000, kPollMilliseconds = 50 };
static const DWORD kInterruptedExitCode = 0xC000013A; /* STATUS_CONTROL_C_EXIT */

static FILE *logFile;

static int verdict(int status, const char *text) {
    fprintf(logFile, "%s\n", text);
    fclose(logFile);
    return status;
}

/* This program stays to judge. */
static BOOL WINAPI keepRunning(DWORD event) {
    (void)event;
    return TRUE;
}

static int exists(const char *pattern) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return 1;
}

int main(int argc, char **argv) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    HANDLE readEnd, writeEnd;
    char commandLine[2 * MAX_PATH], temporary[MAX_PATH];
    DWORD written = 0, exitCode = 0, waited;

    if (argc != 4) {
        fprintf(stderr, "usage: %s TOOL.exe OUTPUT LOG\n", argv[0]);
        return 2;
    }
    logFile = fopen(argv[3], "w");
    if (logFile == NULL) return 1;
    snprintf(commandLine, sizeof commandLine, "\"%s\" -T1 -o %s -", argv[1], argv[2]);
    snprintf(temporary, sizeof temporary, ".%s.*", argv[2]);

    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return verdict(1, "cannot make a pipe");
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        return verdict(1, "cannot start the tool");
    }
    CloseHandle(readEnd);
    WriteFile(writeEnd, "some data", 9, &written, NULL);
    SetConsoleCtrlHandler(keepRunning, TRUE);

    for (waited = 0; !exists(temporary); waited += kPollMilliseconds) {
        if (waited >= kWaitMilliseconds || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            return verdict(1, "the tool made no temporary file beside its output");
        }
        Sleep(kPollMilliseconds);
    }
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        TerminateProcess(process.hProcess, 1);
        return verdict(77, "no console to send CTRL_C_EVENT through (GenerateConsoleCtrlEvent failed)");
    }
    if (WaitForSingleObject(process.hProcess, kWaitMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return verdict(1, "the tool went on after Ctrl-C");
    }
    CloseHandle(writeEnd);
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (exitCode != kInterruptedExitCode) {
        fprintf(logFile, "exit code 0x%lX, expected 0x%lX\n", (unsigned long)exitCode,
                (unsigned long)kInterruptedExitCode);
        return verdict(1, "the tool did not end as interrupted");
    }
    if (exists(temporary)) return verdict(1, "the temporary file stayed after Ctrl-C");
    if (exists(argv[2])) return verdict(1, "an incomplete output appeared after Ctrl-C");
    return verdict(0, "ok: Ctrl-C ended the tool and removed its temporary file");
}

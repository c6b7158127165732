// CHECKINF.EXE on the trial's distribution, its output caught through a pipe.
#include "trial.h"
#include "testpaths.h"

namespace trial {

int RunChecker(const std::string &dist, std::string &output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::string line = "\"" TEST_BUILD_DIR "\\CHECKINF.EXE\" \"" + dist + "\"";
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, "C:\\", &startup, &info);
    CloseHandle(writeEnd);
    std::string bytes;
    int status = -1;
    if (started) {
        // Read while the checker lives, not until end of file: a process the
        // system starts on its behalf may keep the pipe open for good.
        DWORD start = GetTickCount();
        for (;;) {
            DWORD available = 0;
            BOOL open = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
            if (open && available > 0) {
                char buffer[4096];
                DWORD got = 0;
                if (!ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr))
                    break;
                bytes.append(buffer, got);
                continue;
            }
            bool ended = WaitForSingleObject(info.hProcess, open ? 20 : 20000) == WAIT_OBJECT_0;
            if (ended) {
                if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0)
                    continue;
                DWORD code = 0;
                GetExitCodeProcess(info.hProcess, &code);
                status = int(code);
                break;
            }
            if (!open || GetTickCount() - start > 20000) {
                TerminateProcess(info.hProcess, 99);
                break;
            }
        }
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(readEnd);
    // Without a console the checker writes in the code page a console would start with.
    UINT codePage = GetConsoleOutputCP();
    output = Utf8(bytes, codePage != 0 ? codePage : GetOEMCP());
    return status;
}

}  // namespace trial

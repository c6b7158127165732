// CHECKINF.EXE on the trial's distribution, its output caught through a pipe.
#include "trial.h"
#include "testpaths.h"

namespace trial {

int RunChecker(const std::string &setupPath, std::string &output)
{
    std::string bytes;
    int status = driver::RunCaptured("\"" TEST_BUILD_DIR "\\CHECKINF.EXE\" \"" + setupPath + "\"", "C:\\", &bytes);
    // Without a console the checker writes in the code page a console would start with.
    UINT codePage = GetConsoleOutputCP();
    output = Utf8(bytes, codePage != 0 ? codePage : GetOEMCP());
    return status;
}

}  // namespace trial

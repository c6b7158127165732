// The README's main job: starts SETUP.EXE beside the sample script so that a
// newcomer sees it start. Disabled in the test run; tools/main-job.sh runs it.
#include <gtest/gtest.h>
#include <stdio.h>
#include "driver.h"

using namespace driver;

TEST(MainJob, DISABLED_StartSample)
{
    SetWindowsVersion("win7");
    std::string dir = MakeDist("mainjob", SampleScript().c_str());
    printf("distribution: %s\n", dir.c_str());
    Process process = Start("\"" + dir + "SETUP.EXE\"", dir);
    ASSERT_NE(nullptr, process.handle);
    int status = WaitExit(process, 20000);
    printf("SETUP.EXE exit status: %d\n", status);
    EXPECT_EQ(1, status);
    Kill(process);
}

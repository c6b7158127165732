// The smallest Win32 program that shows a window: one message box. Its start-up
// time is the floor that SETUP.EXE's start-up is measured against.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(nullptr, "起動時間の比較用です。", "ベンチマーク", MB_OK | MB_ICONINFORMATION);
    return 0;
}

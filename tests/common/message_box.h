// The one reader of message boxes, for the unit tests (boxes of their own
// process) and the end-to-end driver (boxes of SETUP.EXE): what a box says,
// which icon it shows, which buttons it offers and who owns it.
#pragma once

#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace message_box {

struct Box {
    HWND window = nullptr;
    std::string text;     // static 0xFFFF
    std::string caption;
    std::string icon;     // "error", "question", "information", "warning", "none", or "unknown (...)"
    std::vector<int> buttons;  // IDOK, IDCANCEL, IDYES, IDNO ... present in the box, in that order
    HWND owner = nullptr;
};

inline std::string WindowText(HWND window)
{
    char text[2048] = "";
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}

// A dialog with the message static, and neither the wizard's Next button
// nor the folder picker's list.
inline bool IsMessageBox(HWND window)
{
    char name[16];
    return GetClassNameA(window, name, sizeof name) && lstrcmpA(name, "#32770") == 0 &&
           GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, 1121) == nullptr &&
           GetDlgItem(window, 0x3024) == nullptr;
}

inline BOOL CALLBACK FindVisibleBox(HWND window, LPARAM found)
{
    if (!IsWindowVisible(window) || !IsMessageBox(window))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// The message box that the thread shows now, or nullptr.
inline HWND ThreadBox(DWORD threadId)
{
    HWND box = nullptr;
    EnumThreadWindows(threadId, FindVisibleBox, reinterpret_cast<LPARAM>(&box));
    return box;
}

struct SystemIcon {
    LPCSTR id;
    const char *name;
};
const SystemIcon SystemIcons[] = {{IDI_HAND, "error"}, {IDI_QUESTION, "question"},
                                  {IDI_ASTERISK, "information"}, {IDI_EXCLAMATION, "warning"}};

// Mean difference per opaque pixel between the screen at the control and
// the icon drawn here; the box's background does not count.
inline double IconDistance(HDC screen, const RECT &place, HICON icon)
{
    HDC shot = CreateCompatibleDC(screen), drawn = CreateCompatibleDC(screen), mask = CreateCompatibleDC(screen);
    HBITMAP shotBitmap = CreateCompatibleBitmap(screen, 32, 32), drawnBitmap = CreateCompatibleBitmap(screen, 32, 32),
            maskBitmap = CreateCompatibleBitmap(screen, 32, 32);
    SelectObject(shot, shotBitmap);
    SelectObject(drawn, drawnBitmap);
    SelectObject(mask, maskBitmap);
    BitBlt(shot, 0, 0, 32, 32, screen, place.left, place.top, SRCCOPY);
    RECT all = {0, 0, 32, 32};
    FillRect(mask, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(mask, 0, 0, icon, 32, 32, 0, nullptr, DI_MASK);
    DrawIconEx(drawn, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    double score = 0;
    int counted = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            if (GetPixel(mask, x, y) != RGB(0, 0, 0))
                continue;  // transparent in the icon
            COLORREF a = GetPixel(shot, x, y), b = GetPixel(drawn, x, y);
            score += abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
                     abs(GetBValue(a) - GetBValue(b));
            ++counted;
        }
    DeleteDC(shot);
    DeleteDC(drawn);
    DeleteDC(mask);
    DeleteObject(shotBitmap);
    DeleteObject(drawnBitmap);
    DeleteObject(maskBitmap);
    return counted > 0 ? score / counted : 1e9;
}

// Which system icon the box shows. In this process the icon handle tells,
// since the system icons are shared handles. Another process's handle means
// nothing here, so its pixels on the screen are compared with each system
// icon drawn here, once the box has nothing left to paint; a box that is
// slow to paint on a busy machine is given time rather than misread.
inline std::string IdentifyIcon(HWND box, DWORD timeoutMs = 10000)
{
    // Wine keeps the icon in control stc1 (0x440), Windows in 0x14.
    HWND control = GetDlgItem(box, 0x440) ? GetDlgItem(box, 0x440) : GetDlgItem(box, 0x14);
    if (control == nullptr || !IsWindowVisible(control))
        return "none";
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    if (pid == GetCurrentProcessId()) {
        DWORD_PTR shown = 0;
        SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &shown);
        if (shown == 0)
            return "none";
        for (const SystemIcon &icon : SystemIcons)
            if (reinterpret_cast<HICON>(shown) == LoadIconA(nullptr, icon.id))
                return icon.name;
        return "unknown (not a system icon)";
    }
    RECT client;
    GetClientRect(control, &client);
    if (client.right < 32 || client.bottom < 32)
        return "none";

    std::string best = "none";
    double bestScore = 1e18;
    DWORD start = GetTickCount();
    for (int attempt = 0; IsWindow(box); ++attempt) {
        if (attempt > 0) {
            if (GetTickCount() - start > timeoutMs)
                break;
            Sleep(200);
        }
        // The pixels come from the screen, so nothing may cover the box: a
        // folder window the shell opened, or another program's window. The
        // box is put on top again each time, through a real change of its
        // place in the order, since a window raised in the meantime may lie
        // above it on the display while the order still names the box first.
        // When that is not enough, the box goes to a corner of the screen
        // where windows seldom open.
        UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
        SetWindowPos(box, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
        SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, keep);
        if (attempt == 10) {
            RECT frame;
            GetWindowRect(box, &frame);
            SetWindowPos(box, HWND_TOPMOST, GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left),
                         GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top), 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        }
        if (attempt > 0 && attempt % 5 == 0)
            RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        if (GetUpdateRect(box, nullptr, FALSE) || GetUpdateRect(control, nullptr, FALSE))
            continue;  // still to be painted
        Sleep(50);     // and to reach the screen
        RECT place;
        GetWindowRect(control, &place);
        HDC screen = GetDC(nullptr);
        best = "none";
        bestScore = 1e18;
        for (const SystemIcon &icon : SystemIcons) {
            double score = IconDistance(screen, place, LoadIconA(nullptr, icon.id));
            if (score < bestScore) {
                bestScore = score;
                best = icon.name;
            }
        }
        ReleaseDC(nullptr, screen);
        // A good match differs by a few levels per pixel (anti-aliasing); the
        // other icons differ by hundreds.
        if (bestScore <= 60)
            return best;
    }
    char detail[96];
    snprintf(detail, sizeof detail, "unknown (nearest %s, %.0f per pixel", best.c_str(), bestScore);
    std::string out = detail;
    // Every other window over the icon's place, for the reader of a failure.
    RECT place, overlap, other;
    GetWindowRect(control, &place);
    for (HWND top = GetTopWindow(nullptr); top != nullptr; top = GetWindow(top, GW_HWNDNEXT)) {
        char name[64] = "";
        GetClassNameA(top, name, sizeof name);
        if (top != box && IsWindowVisible(top) && GetWindowRect(top, &other) && IntersectRect(&overlap, &place, &other))
            out += std::string("; ") + (GetWindowLongA(top, GWL_EXSTYLE) & WS_EX_TOPMOST ? "topmost " : "") + name +
                   " \"" + WindowText(top) + "\"";
    }
    return out + ")";
}

inline Box Read(HWND window)
{
    Box box;
    box.window = window;
    box.text = WindowText(GetDlgItem(window, 0xFFFF));
    box.caption = WindowText(window);
    box.owner = GetWindow(window, GW_OWNER);
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (HWND button = GetDlgItem(window, id))
            if (IsWindowVisible(button))
                box.buttons.push_back(id);
    box.icon = IdentifyIcon(window);
    return box;
}

}  // namespace message_box

// Finish starts the product as the user who asked for the installation.
// The installer runs elevated; whatever it starts itself inherits that, so a
// standard user who had an administrator type a password would be handed an
// elevated product, and through its file dialogs an elevated shell. The
// desktop's shell runs as the signed-in user: it is asked to do the start.
#include "script/state.h"
#include "removal/seams.h"
#include "shell/desktop.h"
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

// The object's interface iid, with the object itself let go: each step of
// the walk below holds one object at a time.
FIXED_LAYOUT static void *Become(IUnknown *object, REFIID iid)
{
    void *next = nullptr;
    if (object != nullptr) {
        object->QueryInterface(iid, &next);
        object->Release();
    }
    return next;
}

// The shell object of the desktop's own process, reached the documented way:
// the desktop window, its browser, its view, the view's folder object and
// that object's application.
static IShellDispatch2 *DesktopShell()
{
    IDispatch *desktop = DesktopWindow();
    IServiceProvider *provider = static_cast<IServiceProvider *>(Become(desktop, IID_IServiceProvider));
    IShellBrowser *browser = nullptr;
    if (provider != nullptr) {
        provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void **>(&browser));
        provider->Release();
    }
    IShellView *view = nullptr;
    if (browser != nullptr) {
        browser->QueryActiveShellView(&view);
        browser->Release();
    }
    IDispatch *background = nullptr;
    if (view != nullptr) {
        view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void **>(&background));
        view->Release();
    }
    IShellFolderViewDual *folderView =
        static_cast<IShellFolderViewDual *>(Become(background, IID_IShellFolderViewDual));
    IDispatch *application = nullptr;
    if (folderView != nullptr) {
        folderView->get_Application(&application);
        folderView->Release();
    }
    return static_cast<IShellDispatch2 *>(Become(application, IID_IShellDispatch2));
}

// A BSTR is its wide text preceded by its length in bytes, which is all
// that carries it to the shell's process; made on the stack rather than by
// the automation library, which the program would otherwise have to load.
struct StackBstr {
    DWORD bytes;
    WCHAR text[PATH_SIZE];
};

static BSTR MakeBstr(StackBstr *string, const char *text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, string->text, PATH_SIZE);
    string->bytes = length > 0 ? DWORD(length - 1) * sizeof(WCHAR) : 0;
    return length > 0 ? string->text : nullptr;
}

int RunsElevated()
{
    // Asked of the token, never of GetVersion, which a compatibility layer
    // makes say an older system even for the elevated run. The systems
    // before Vista know no elevation and refuse the question.
    typedef BOOL(WINAPI * OpenTokenProc)(HANDLE, DWORD, HANDLE *);
    typedef BOOL(WINAPI * TokenInformationProc)(HANDLE, int, void *, DWORD, DWORD *);
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    FARPROC open = GetProcAddress(advapi, "OpenProcessToken");
    FARPROC query = GetProcAddress(advapi, "GetTokenInformation");
    HANDLE token;
    DWORD elevated = 0, size;
    if (open != nullptr && query != nullptr &&
        reinterpret_cast<OpenTokenProc>(reinterpret_cast<void (*)()>(open))(reinterpret_cast<HANDLE>(-1), TOKEN_QUERY, &token)) {
        if (!reinterpret_cast<TokenInformationProc>(reinterpret_cast<void (*)()>(query))(token, 20 /* TokenElevation */,
                                                                                         &elevated, sizeof elevated, &size))
            elevated = 0;
        CloseOnce(token);
    }
    return elevated != 0;
}

int StartAsUser(const char *file, const char *directory)
{
    if (TestRefuses("ShellWindows"))
        return 0;
    HRESULT initialised = CoInitialize(nullptr);
    int started = 0;
    if (IShellDispatch2 *shell = DesktopShell()) {
        // No arguments; the verb the program's own start uses.
        StackBstr fileText, directoryText, verbText;
        VARIANT none = {}, show = {}, where = {}, verb = {};
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        where.vt = verb.vt = VT_BSTR;
        where.bstrVal = MakeBstr(&directoryText, directory);
        verb.bstrVal = MakeBstr(&verbText, "open");
        BSTR name = MakeBstr(&fileText, file);
        if (name != nullptr && where.bstrVal != nullptr)
            started = SUCCEEDED(shell->ShellExecute(name, none, where, verb, show));
        shell->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return started;
}

// What the maker's signature vouches for beyond the program itself. The
// package step fills a resource of the signed program with the SHA-256 of
// the script, and writes the SHA-256 of every file the script installs into
// the script's [Hash] section, under the entry's number. A packaged program
// then obeys only that script and installs only those files. The resource as
// the build leaves it, all zero, binds nothing: the program then works as it
// always did.
#include "script/state.h"
#include "resources/resource.h"

// The resource opens with the 16-byte mark "SETUP.BINDING.1" and its
// terminator, by which the package step finds the digest in the file. The
// program finds the resource by its number and never spells the mark out:
// a second copy of it in the file would leave the package step no way to
// tell which one to fill.
enum { BindingMarkSize = 16 };
static const char Altered[] =
    " - このファイルは壊れているか、配布後に変更されているため、削除しました。インストールを中止します。製品をもう一度入手してください。";

unsigned char FileBuffer[FILE_BUFFER_SIZE];

// The packaged script's bytes as the private copy holds them, once checked:
// the [Hash] section is taken from them. Before the script is read, the
// program's own file is read into the same place.
unsigned char WorkBuffer[WORK_BUFFER_SIZE];
static char *const ScriptBytes = reinterpret_cast<char *>(WorkBuffer);
static DWORD ScriptLength;
// The lines of the [Hash] section in ScriptBytes (null when it has none),
// and where the next entry's line should be: the package step writes them in
// the entries' order.
static const char *HashLines;
static const char *HashNext;

// What the last copy was made from, and the digest of the copy as read back.
static int CopiedKind;
static int CopiedHashed;
static unsigned char CopiedDigest[SHA256_SIZE];

// The script's digest the package step recorded, or null when none was.
static const unsigned char *BoundScriptDigest()
{
    // The build always links the resource at its full size, and the
    // signature covers it: only whether it is filled needs reading.
    HRSRC found = FindResourceA(State.instance, MAKEINTRESOURCEA(IDR_BINDING), RT_RCDATA);
    if (found == nullptr)
        return nullptr;
    const unsigned char *data = static_cast<const unsigned char *>(LockResource(LoadResource(State.instance, found)));
    if (data == nullptr)
        return nullptr;
    const unsigned char *digest = data + BindingMarkSize;
    for (int i = 0; i < SHA256_SIZE; ++i)
        if (digest[i] != 0)
            return digest;
    return nullptr;
}

int HashOpenFile(HANDLE file, unsigned char *digest)
{
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    Sha256 hash;
    StartSha256(&hash);
    DWORD got;
    int read;
    while ((read = ReadFile(file, FileBuffer, sizeof FileBuffer, &got, nullptr)) != 0 && got != 0)
        AddSha256(&hash, FileBuffer, got);
    EndSha256(&hash, digest);
    return read;
}

int HashFile(const char *path, unsigned char *digest, HANDLE *held)
{
    // Nobody may write or replace the file while it is read, nor, when the
    // caller holds it, for as long as the caller goes on reading it by name.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int read = HashOpenFile(file, digest);
    if (held != nullptr && read)
        *held = file;
    else
        CloseOnce(file);
    return read;
}

// A folder of its own for the private copy, under the system's temporary
// folder (made first where an old system has none): only administrators may
// change what is made there with the protected permissions, where the
// user's own temporary folder is the user's to change, elevated or not. A
// name that is taken, by whatever, is never used: another is tried.
static int MakePrivateFolder(char *dir)
{
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
    int own = ProtectedSecurity(GetVersion(), &descriptor);
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
    char base[PATH_SIZE];
    UINT length = GetWindowsDirectoryA(base, PATH_SIZE - 24);
    if (length == 0 || length >= PATH_SIZE - 24)
        return 0;
    AddTrailingBackslash(base);
    AppendText(base, PATH_SIZE, "TEMP");
    CreateDirectoryA(base, nullptr);
    for (int tries = 0; tries < 64; ++tries) {
        wsprintfA(dir, "%s\\~S%06lX", base, static_cast<unsigned long>((seed + tries * 0x9E3779B1u) & 0xFFFFFF));
        if (CreateDirectoryA(dir, own ? &security : nullptr)) {
            AddTrailingBackslash(dir);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    dir[0] = '\0';
    return 0;
}

// The [Hash] section that the package step appended: the last line that is
// exactly "[Hash]", everything after it its lines.
static void FindHashSection()
{
    static const char Header[] = "[Hash]\r\n";
    HashLines = HashNext = nullptr;
    for (DWORD at = ScriptLength; at-- > 0;) {
        if ((at == 0 || ScriptBytes[at - 1] == '\n') && ScriptLength - at >= sizeof Header - 1 &&
            memcmp(ScriptBytes + at, Header, sizeof Header - 1) == 0) {
            HashLines = HashNext = ScriptBytes + at + sizeof Header - 1;
            return;
        }
    }
}

// The digest the package recorded for [Install] entry n; 0 when it has none.
// Lines are taken only in the form the package step writes: "n=" and 64
// hexadecimal digits, then CR LF.
static int FindDigest(int n, unsigned char *digest)
{
    const char *key = FormatIndex(unsigned(n));
    int keyLength = TextLength(key);
    const char *end = ScriptBytes + ScriptLength;
    for (int pass = 0; HashLines != nullptr && pass < 2; ++pass) {
        for (const char *line = pass == 0 ? HashNext : HashLines; end - line >= keyLength + 67;) {
            const char *value = line + keyLength + 1;
            if (memcmp(line, key, keyLength) == 0 && value[-1] == '=' && value[2 * SHA256_SIZE] == '\r' &&
                value[2 * SHA256_SIZE + 1] == '\n') {
                char text[2 * SHA256_SIZE + 1];
                CopyMemory(text, value, 2 * SHA256_SIZE);
                text[2 * SHA256_SIZE] = '\0';
                HashNext = value + 2 * SHA256_SIZE + 2;
                return ParseDigest(text, digest);
            }
            while (line < end && *line != '\n')
                ++line;
            ++line;
        }
    }
    return 0;
}

int CheckBoundScript()
{
    // A script read before (the tests load several) leaves nothing behind.
    ScriptLength = 0;
    HashLines = HashNext = nullptr;
    const unsigned char *expected = BoundScriptDigest();
    if (expected == nullptr)
        return 1;
    // The script is read once, by copying it into a folder of this process's
    // own, and from then on only that copy is read: what the script's path
    // names may change (a folder above it re-pointed), the copy may not.
    char copy[PATH_SIZE];
    if (!MakePrivateFolder(State.privateDir) || !CopyText(copy, sizeof copy, State.privateDir) ||
        !AppendText(copy, sizeof copy, State.scriptName))
        return 0;
    HANDLE file = CreateFileA(State.scriptPath, GENERIC_READ, HeldShareMode(), nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE out = CreateFileA(copy, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    int copied = out != INVALID_HANDLE_VALUE && CopyOpenFile(file, out);
    CloseOnce(file);
    if (out != INVALID_HANDLE_VALUE)
        CloseOnce(out);
    State.scriptFile = CreateFileA(copy, GENERIC_READ, HeldShareMode(), nullptr, OPEN_EXISTING, 0, nullptr);
    if (State.scriptFile == INVALID_HANDLE_VALUE)
        State.scriptFile = nullptr;
    if (!copied || State.scriptFile == nullptr)
        return 0;

    // What is checked is what every read will find: the copy's bytes, kept
    // for the [Hash] section. A script that fills the buffer may go on
    // beyond it: not the packaged one.
    DWORD got = 0, more = 1;
    int read = 1;
    while (read && more != 0 && got < WORK_BUFFER_SIZE) {
        read = ReadFile(State.scriptFile, ScriptBytes + got, WORK_BUFFER_SIZE - got, &more, nullptr);
        got += more;  // ReadFile counts nothing when it fails
    }
    unsigned char digest[SHA256_SIZE];
    Sha256 hash;
    StartSha256(&hash);
    AddSha256(&hash, ScriptBytes, got);
    EndSha256(&hash, digest);
    if (!read || got >= WORK_BUFFER_SIZE || memcmp(digest, expected, SHA256_SIZE) != 0)
        return 0;
    ScriptLength = got;
    FindHashSection();
    CopyText(State.scriptPath, PATH_SIZE, copy);
    return 1;
}

void ReleaseBoundScript()
{
    if (State.scriptFile != nullptr)
        CloseOnce(State.scriptFile);
    State.scriptFile = nullptr;
    if (State.privateDir[0] == '\0')
        return;
    char copy[PATH_SIZE];
    if (CopyText(copy, sizeof copy, State.privateDir) && AppendText(copy, sizeof copy, State.scriptName))
        DeleteFileA(copy);
    RemoveDirectoryA(State.privateDir);
    State.privateDir[0] = '\0';
}

HANDLE OpenEntrySource(int *kind)
{
    // The program and the packaged script are copied from what was checked.
    // Only a name that is theirs leads there; any other is opened, and a
    // packaged program checks what it copied from it.
    char full[PATH_SIZE];
    DWORD length = GetFullPathNameA(State.entryName, sizeof full, full, nullptr);
    *kind = SourceNamed;
    if (length != 0 && length < sizeof full) {
        char script[PATH_SIZE];
        if (State.programFile != nullptr && lstrcmpiA(full, State.modulePath) == 0) {
            *kind = SourceProgram;
            return State.programFile;
        }
        if (State.scriptFile != nullptr && CopyText(script, sizeof script, State.setupDir) &&
            AppendText(script, sizeof script, State.scriptName) && lstrcmpiA(full, script) == 0) {
            *kind = SourceScript;
            return State.scriptFile;
        }
    }
    return CreateFileA(State.entryName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

void NoteCopiedFile(HANDLE copy, int kind)
{
    CopiedKind = kind;
    // The copy is read back, not the source: the source may have changed
    // between any check of it and the copy.
    CopiedHashed = BoundScriptDigest() != nullptr && HashOpenFile(copy, CopiedDigest);
}

int ParseDigest(const char *text, unsigned char *digest)
{
    for (int i = 0; i < 2 * SHA256_SIZE; ++i) {
        char c = text[i];
        int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                      : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (value < 0)
            return 0;
        if (i % 2 == 0)
            digest[i / 2] = static_cast<unsigned char>(value << 4);
        else
            digest[i / 2] |= static_cast<unsigned char>(value);
    }
    return text[2 * SHA256_SIZE] == '\0';
}

int CheckCopiedEntry(int n)
{
    const unsigned char *scriptDigest = BoundScriptDigest();
    if (scriptDigest == nullptr)
        return 1;
    // Every file of a packaged installation is checked: one for which the
    // package recorded nothing is not installed.
    unsigned char expected[SHA256_SIZE];
    int known = 1;
    if (n < 0 || CopiedKind == SourceProgram)
        CopyMemory(expected, State.programDigest, SHA256_SIZE);
    else if (n == 0 || CopiedKind == SourceScript)
        CopyMemory(expected, scriptDigest, SHA256_SIZE);
    else
        known = FindDigest(n, expected);
    if (known && CopiedHashed && memcmp(CopiedDigest, expected, SHA256_SIZE) == 0)
        return 1;
    // Not what was packaged: this file goes, and so does everything this
    // run copied or made before it, before the user hears of it.
    DeleteFileA(State.entryPath);
    UndoInstallation();
    ShowPathError(State.entryPath, Altered);
    return 0;
}

// What the maker's signature vouches for beyond the program itself. The
// package step fills a resource of the signed program with the SHA-256 of
// the script, and writes the SHA-256 of every file the script installs into
// the script's [Hash] section, under the entry's number. A packaged program
// then obeys only that script and installs only those files. The resource as
// the build leaves it, all zero, binds nothing: the program then works as it
// always did.
#include "script/state.h"
#include "resources/resource.h"

static const char BindingMark[] = "SETUP.BINDING.1";  // 16 bytes with the terminator
static const char Altered[] =
    " - このファイルはパッケージの作成後に変更されているため、削除しました。インストールを中止します。";

// Read buffer of the hashing; in the loader's zeroed data, not in the file.
static unsigned char ReadBuffer[32768];

// The script's digest the package step recorded, or null when none was.
static const unsigned char *BoundScriptDigest()
{
    HRSRC found = FindResourceA(State.instance, MAKEINTRESOURCEA(IDR_BINDING), RT_RCDATA);
    if (found == nullptr || SizeofResource(State.instance, found) < BINDING_SIZE)
        return nullptr;
    const unsigned char *data = static_cast<const unsigned char *>(LockResource(LoadResource(State.instance, found)));
    if (data == nullptr || memcmp(data, BindingMark, sizeof BindingMark) != 0)
        return nullptr;
    const unsigned char *digest = data + sizeof BindingMark;
    for (int i = 0; i < SHA256_SIZE; ++i)
        if (digest[i] != 0)
            return digest;
    return nullptr;
}

int HashFile(const char *path, unsigned char *digest, HANDLE *held)
{
    // Nobody may write or replace the file while it is read, nor, when the
    // caller holds it, for as long as the caller goes on reading it by name.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    Sha256 hash;
    StartSha256(&hash);
    DWORD got;
    int read;
    while ((read = ReadFile(file, ReadBuffer, sizeof ReadBuffer, &got, nullptr)) != 0 && got != 0)
        AddSha256(&hash, ReadBuffer, got);
    EndSha256(&hash, digest);
    if (held != nullptr && read)
        *held = file;
    else
        CloseHandle(file);
    return read;
}

int CheckBoundScript()
{
    const unsigned char *expected = BoundScriptDigest();
    if (expected == nullptr)
        return 1;
    unsigned char digest[SHA256_SIZE];
    return HashFile(State.scriptPath, digest, &State.scriptFile) && memcmp(digest, expected, SHA256_SIZE) == 0;
}

void ReleaseBoundScript()
{
    if (State.scriptFile != nullptr)
        CloseHandle(State.scriptFile);
    State.scriptFile = nullptr;
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
    unsigned char expected[SHA256_SIZE];
    int known = 1;
    if (n == 0) {
        CopyMemory(expected, scriptDigest, SHA256_SIZE);
    } else if (n < 0) {
        // The program itself: what was copied must be the signed file running now.
        known = HashFile(State.modulePath, expected, nullptr);
    } else {
        // A file outside the distribution was not the package's to vouch for,
        // and carries no digest; the bound script still names which it is.
        char text[2 * SHA256_SIZE + 2];
        GetPrivateProfileStringA("Hash", FormatIndex(unsigned(n)), "", text, sizeof text, State.scriptPath);
        if (text[0] == '\0')
            return 1;
        known = ParseDigest(text, expected);
    }
    // The copy is read back, not the source: the source may have changed
    // between any check of it and the copy.
    unsigned char digest[SHA256_SIZE];
    if (known && HashFile(State.entryPath, digest, nullptr) && memcmp(digest, expected, SHA256_SIZE) == 0)
        return 1;
    DeleteFileA(State.entryPath);
    ShowPathError(State.entryPath, Altered);
    return 0;
}

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
    " - このファイルはパッケージの作成後に変更されているため、削除しました。インストールを中止します。";

// Read buffer of the hashing, large enough for most files in one read; in
// the loader's zeroed data, not in the file.
static unsigned char ReadBuffer[65536];

// The [Hash] section as read once (null until it is), and where the next
// entry's line should be: looking each key up in the file took as long as
// checking the copy. Zeroed data, which the file does not hold.
static char HashSection[1 << 20];
static const char *HashNext;

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
    // A script read before (the tests load several) leaves nothing behind.
    HashNext = nullptr;
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
        const char *key = FormatIndex(unsigned(n));
        const char *value = nullptr;
        if (HashNext == nullptr) {
            GetPrivateProfileSectionA("Hash", HashSection, sizeof HashSection, State.scriptPath);
            HashNext = HashSection;
        }
        // The package step writes the lines in the entries' order. A key
        // not read here (Windows 95 reads at most 32 KiB of a section) is
        // asked for by name.
        for (int pass = 0; value == nullptr && pass < 2; ++pass)
            for (const char *line = pass == 0 ? HashNext : HashSection; *line != '\0'; line += lstrlenA(line) + 1) {
                int i = 0;
                while (key[i] != '\0' && line[i] == key[i])
                    ++i;
                // A line cut at the end of what was read is asked for again.
                if (key[i] == '\0' && line[i] == '=' && lstrlenA(line + i + 1) == 2 * SHA256_SIZE) {
                    value = line + i + 1;
                    HashNext = value + 2 * SHA256_SIZE + 1;
                    break;
                }
            }
        char text[2 * SHA256_SIZE + 2];
        if (value == nullptr) {
            GetPrivateProfileStringA("Hash", key, "", text, sizeof text, State.scriptPath);
            value = text;
        }
        if (value[0] == '\0')
            return 1;
        known = ParseDigest(value, expected);
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

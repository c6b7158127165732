// The script's encoding. SETUP.EXE reads the script in code page 932; one
// saved as UTF-8 gets titles and names of other characters, or loses keys
// when a line ends in what code page 932 takes for a lead byte, and every
// finding after that would mislead. Such a script is one error, before the
// rest is read.
#include "checker/checker.h"

// Real code page 932 text is practically never well-formed UTF-8: its
// hiragana, katakana and punctuation begin with bytes 0x81 to 0x9F, which
// UTF-8 allows only inside a character. So a script is taken for UTF-8 when
// every byte of it is well-formed UTF-8 and it holds at least one character
// of three or more bytes (every Japanese character is one). Two-byte
// sequences alone are not enough: pairs of half-width katakana such as ﾃｽ
// are well-formed two-byte UTF-8 too.
struct Utf8Scan {
    int need;            // continuation bytes still expected
    unsigned char low;   // the range the next continuation byte must lie in
    unsigned char high;
    int broken;          // a byte that UTF-8 does not allow here
    int longCharacters;  // characters of three or four bytes
};

static void ScanUtf8(Utf8Scan &scan, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count && !scan.broken; ++i) {
        unsigned char b = bytes[i];
        if (scan.need > 0) {
            if (b < scan.low || b > scan.high) {
                scan.broken = 1;
                break;
            }
            scan.low = 0x80;
            scan.high = 0xBF;
            --scan.need;
            continue;
        }
        scan.low = 0x80;
        scan.high = 0xBF;
        if (b < 0x80)
            continue;
        if (b >= 0xC2 && b <= 0xDF) {
            scan.need = 1;
            continue;
        }
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        if (b >= 0xE0 && b <= 0xEF) {
            scan.need = 2;
            if (b == 0xE0)
                scan.low = 0xA0;
            else if (b == 0xED)
                scan.high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            scan.need = 3;
            if (b == 0xF0)
                scan.low = 0x90;
            else if (b == 0xF4)
                scan.high = 0x8F;
        } else {
            scan.broken = 1;
            break;
        }
        ++scan.longCharacters;
    }
}

int CheckScriptEncoding()
{
    HANDLE file = CreateFileA(State.scriptPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;  // the profile reader finds no more in it than this would
    static unsigned char block[4096];
    Utf8Scan scan = {};
    int byteOrderMark = 0;
    int first = 1;
    DWORD read;
    while (!scan.broken && ReadFile(file, block, sizeof block, &read, nullptr) && read != 0) {
        int skip = 0;
        if (first && read >= 3 && block[0] == 0xEF && block[1] == 0xBB && block[2] == 0xBF) {
            byteOrderMark = 1;
            skip = 3;
        }
        first = 0;
        ScanUtf8(scan, block + skip, int(read) - skip);
    }
    CloseHandle(file);
    if (!byteOrderMark && (scan.broken || scan.need != 0 || scan.longCharacters == 0))
        return 1;
    // glibc's iconv takes the byte-order mark for a character that code page
    // 932 lacks, so it goes first.
    char text[PATH_SIZE + 400];
    CopyText(text, sizeof text,
             "UTF-8 で保存されています。SETUP.EXE は設定ファイルをコードページ 932 (シフトJIS) で読むので、"
             "日本語が別の文字になり、キーが読まれないこともあります。コードページ 932 で保存し直してください (例: ");
    if (byteOrderMark)
        AppendText(text, sizeof text, "sed '1s/^\\xEF\\xBB\\xBF//' 元のファイル | iconv -f UTF-8 -t CP932 > ");
    else
        AppendText(text, sizeof text, "iconv -f UTF-8 -t CP932 元のファイル > ");
    AppendText(text, sizeof text, State.scriptName);
    AppendText(text, sizeof text, ")。");
    ReportFinding(FindingError, "-", "-", nullptr, text);
    return 0;
}

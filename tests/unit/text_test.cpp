// The double-byte aware text helpers. Every string literal here is code page
// 932 (the sources are compiled with that execution character set); ソ is the
// bytes 0x83 0x5C, whose second byte has the value of a backslash. Then the
// program's own SHA-256.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <string>
#include "script/state.h"

static const char So[] = "\x83\x5C";  // ソ, spelled out so that its trail byte is visible

TEST(TextRig, SystemCodePageIsShiftJis)
{
    // Every other test of the double-byte rules means nothing on another code page.
    ASSERT_EQ(932u, GetACP()) << "the rig must run with LANG=ja_JP.UTF-8";
    EXPECT_STREQ(So, "ソ");
    EXPECT_TRUE(IsDBCSLeadByte(0x83));
}

TEST(FormatIndex, DecimalWithoutSignOrPadding)
{
    EXPECT_STREQ("0", FormatIndex(0));
    EXPECT_STREQ("1", FormatIndex(1));
    EXPECT_STREQ("10", FormatIndex(10));
    EXPECT_STREQ("1000000", FormatIndex(1000000));
    EXPECT_STREQ("2147483648", FormatIndex(2147483648u));
    EXPECT_STREQ("4294967295", FormatIndex(4294967295u));
}

TEST(FormatIndex, NextCallOverwritesTheSameBuffer)
{
    char *first = FormatIndex(4294967295u);
    char *second = FormatIndex(7);
    EXPECT_EQ(first, second);
    EXPECT_STREQ("7", first);  // the shorter text ends where it should
}

TEST(FindCharMbcs, SingleByteText)
{
    const char *text = "HELP\\APP.HLP,APP.HLP";
    EXPECT_EQ(text + 12, FindCharMbcs(text, ','));
    EXPECT_EQ(text + 4, FindCharMbcs(text, '\\'));
    EXPECT_EQ(nullptr, FindCharMbcs("APP.EXE", ','));
    EXPECT_EQ(nullptr, FindCharMbcs("", ','));
    const char *comma = ",";
    EXPECT_EQ(comma, FindCharMbcs(comma, ','));
    const char *commas = "a,,b";
    EXPECT_EQ(commas + 1, FindCharMbcs(commas, ','));  // the first one
}

TEST(FindCharMbcs, TrailByteIsNeverTakenForTheCharacter)
{
    char text[16];
    lstrcpyA(text, "A");
    lstrcatA(text, So);
    lstrcatA(text, "B");
    EXPECT_EQ(nullptr, FindCharMbcs(text, '\\'));

    lstrcatA(text, "\\C");  // A ソ B \ C: the real backslash is at offset 4
    EXPECT_EQ(text + 4, FindCharMbcs(text, '\\'));

    const char *japanese = "ソフト\\ソ.TXT,データ\\ソ.TXT";
    const char *comma = FindCharMbcs(japanese, ',');
    ASSERT_NE(nullptr, comma);
    EXPECT_EQ(std::strlen("ソフト\\ソ.TXT"), size_t(comma - japanese));
    EXPECT_EQ(japanese + std::strlen("ソフト"), FindCharMbcs(japanese, '\\'));
}

TEST(FindCharMbcs, LoneLeadByteAtTheEndStopsTheWalk)
{
    // A lead byte, the terminator, then a byte that would match if the walk
    // stepped over the terminator.
    const char text[] = {'A', '\x83', '\0', ',', '\0'};
    EXPECT_EQ(nullptr, FindCharMbcs(text, ','));
    const char only[] = {'\x83', '\0', '\\', '\0'};
    EXPECT_EQ(nullptr, FindCharMbcs(only, '\\'));
}

TEST(IsDbcsTrailByte, PositionsInMixedText)
{
    char text[16];
    lstrcpyA(text, "A");
    lstrcatA(text, So);
    lstrcatA(text, "\\");  // A 83 5C 5C
    EXPECT_FALSE(IsDbcsTrailByte(text, 0));
    EXPECT_FALSE(IsDbcsTrailByte(text, 1));  // the lead byte
    EXPECT_TRUE(IsDbcsTrailByte(text, 2));
    EXPECT_FALSE(IsDbcsTrailByte(text, 3));  // a real backslash after the character

    const char *twice = "ソソ";  // 83 5C 83 5C
    EXPECT_FALSE(IsDbcsTrailByte(twice, 0));
    EXPECT_TRUE(IsDbcsTrailByte(twice, 1));
    EXPECT_FALSE(IsDbcsTrailByte(twice, 2));
    EXPECT_TRUE(IsDbcsTrailByte(twice, 3));
}

TEST(IsDbcsTrailByte, NeverWalksPastTheTerminator)
{
    // Offsets at or past the end, behind a lone lead byte: the walk stops at
    // the terminator instead of pairing it with the lead byte.
    const char text[] = {'A', '\x83', '\0', '\x83', '\x5C', '\0'};
    EXPECT_FALSE(IsDbcsTrailByte(text, 2));
    EXPECT_FALSE(IsDbcsTrailByte(text, 4));
    EXPECT_FALSE(IsDbcsTrailByte("", 0));
}

// A path buffer whose bytes after the room for two more bytes are guards.
struct GuardedPath {
    char bytes[PATH_SIZE + 8];
    size_t room;
    explicit GuardedPath(const char *path)
    {
        std::memset(bytes, 0x7E, sizeof bytes);
        std::memcpy(bytes, path, std::strlen(path) + 1);
        room = std::strlen(path) + 2;  // the terminator and one byte more
    }
    bool GuardsIntact() const
    {
        for (size_t i = room; i < sizeof bytes; ++i)
            if (bytes[i] != 0x7E)
                return false;
        return true;
    }
};

TEST(AddTrailingBackslash, RealBackslashIsKept)
{
    for (const char *path : {"C:\\", "C:\\Soft\\", "\\", "C:\\ソフト\\"}) {
        GuardedPath buffer(path);
        AddTrailingBackslash(buffer.bytes);
        EXPECT_STREQ(path, buffer.bytes);
        EXPECT_TRUE(buffer.GuardsIntact()) << path;
    }
}

TEST(AddTrailingBackslash, AppendedWithinTwoBytes)
{
    struct { const char *path, *expected; } cases[] = {
        {"C:", "C:\\"},
        {"C:\\Soft", "C:\\Soft\\"},
        {"", "\\"},
        {"C:\\ソ", "C:\\ソ\\"},          // ends in a trail byte 0x5C, not a backslash
        {"C:\\アソ", "C:\\アソ\\"},
        {"C:\\ソフト", "C:\\ソフト\\"},
    };
    for (const auto &c : cases) {
        GuardedPath buffer(c.path);
        AddTrailingBackslash(buffer.bytes);
        EXPECT_STREQ(c.expected, buffer.bytes) << c.path;
        EXPECT_TRUE(buffer.GuardsIntact()) << c.path;
    }
}

TEST(AddTrailingBackslash, PathOf258BytesFillsItsBuffer)
{
    char path[PATH_SIZE + 4];
    std::memset(path, 0x7E, sizeof path);
    std::memset(path, 'P', 258);
    path[258] = '\0';
    AddTrailingBackslash(path);
    EXPECT_EQ('\\', path[258]);
    EXPECT_EQ('\0', path[259]);
    for (size_t i = PATH_SIZE; i < sizeof path; ++i)
        EXPECT_EQ(0x7E, path[i]);
}

TEST(CopyText, RefusesWhatDoesNotFitAndNeverCuts)
{
    char buffer[8];
    std::memset(buffer, 0x7E, sizeof buffer);
    EXPECT_TRUE(CopyText(buffer, 5, "ABCD"));  // four bytes and the terminator
    EXPECT_STREQ("ABCD", buffer);
    EXPECT_EQ(0x7E, buffer[5]);

    EXPECT_FALSE(CopyText(buffer, 5, "ABCDE"));
    EXPECT_STREQ("ABCD", buffer);  // a refused copy leaves the old text
    EXPECT_EQ(0x7E, buffer[5]);

    EXPECT_FALSE(CopyText(buffer, 0, ""));
    EXPECT_TRUE(CopyText(buffer, 1, ""));
    EXPECT_STREQ("", buffer);
}

TEST(AppendText, JoinsUpToTheLastByteOnly)
{
    char buffer[8];
    std::memset(buffer, 0x7E, sizeof buffer);
    lstrcpyA(buffer, "AB");
    EXPECT_TRUE(AppendText(buffer, 5, "CD"));
    EXPECT_STREQ("ABCD", buffer);
    EXPECT_FALSE(AppendText(buffer, 5, "E"));
    EXPECT_STREQ("ABCD", buffer);
    EXPECT_EQ(0x7E, buffer[5]);
    EXPECT_TRUE(AppendText(buffer, 5, ""));
    EXPECT_STREQ("ABCD", buffer);
}

// The standard vectors, each in pieces that end inside, at and across the
// 64-byte blocks; 56 bytes need a block of their own for the length.
TEST(Sha256, StandardVectors)
{
    const struct { std::string data; const char *digest; } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
#if defined(__x86_64__)
    // The processor's rounds where it has them, then the portable ones.
    for (int instructions : {0, -1}) {
        Sha256Instructions = instructions;
#else
    {
#endif
    for (const auto &vector : vectors) {
        for (size_t piece : {1, 7, 64, 1000000}) {
            Sha256 hash;
            StartSha256(&hash);
            for (size_t at = 0; at < vector.data.size(); at += piece)
                AddSha256(&hash, &vector.data[at], static_cast<unsigned long>(std::min(piece, vector.data.size() - at)));
            unsigned char digest[SHA256_SIZE], expected[SHA256_SIZE];
            EndSha256(&hash, digest);
            ASSERT_TRUE(ParseDigest(vector.digest, expected));
            EXPECT_EQ(0, std::memcmp(digest, expected, SHA256_SIZE)) << vector.digest << ", pieces of " << piece;
        }
    }
    }
}

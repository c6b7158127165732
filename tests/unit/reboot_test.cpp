// Deletion at the next start by the WININIT.INI route, on files of our own.
// The platform's route is seen end to end (the removal scenarios), since
// its list is one value that parallel tests would race to rewrite.
#include <gtest/gtest.h>
#include <string>
#include "script/state.h"
#include "removal/reboot.h"

namespace {

const char Victim[] = "C:\\UT\\VICTIM.EXE";
const char NewLine[] = "NUL=C:\\UT\\VICTIM.EXE\r\n";

// The profile layer may keep a file it has read, so every case gets a fresh name.
std::string CaseFile(const char *name)
{
    CreateDirectoryA("C:\\ut", nullptr);
    CreateDirectoryA("C:\\ut\\reboot", nullptr);
    std::string path = std::string("C:\\ut\\reboot\\") + name + ".INI";
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return path;
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// Writes the file, adds the victim, returns what the file holds afterwards.
std::string AfterAdding(const char *name, const std::string &before, int expectedResult = 1)
{
    std::string path = CaseFile(name);
    WriteBytes(path, before);
    EXPECT_EQ(expectedResult, AddWininitDeletion(path.c_str(), Victim)) << name;
    return ReadBytes(path);
}

// Lines of 26 bytes each, all with the key NUL.
std::string NulLines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i) {
        char line[64];
        wsprintfA(line, "NUL=C:\\OLD\\%09d.TMP\r\n", i);
        lines += line;
    }
    return lines;
}

}  // namespace

TEST(WininitDeletion, SectionIsAddedAtTheEndOfTheFile)
{
    // No [Rename] section yet.
    EXPECT_EQ(std::string("[boot]\r\nshell=Explorer.exe\r\n[Rename]\r\n") + NewLine,
              AfterAdding("nosection", "[boot]\r\nshell=Explorer.exe\r\n"));
    // An empty file gets the section at its start.
    EXPECT_EQ(std::string("[Rename]\r\n") + NewLine, AfterAdding("empty", ""));
    // The old end-of-file mark is replaced; no line break goes in front.
    EXPECT_EQ(std::string("[boot]\r\na=1\r\n[Rename]\r\n") + NewLine, AfterAdding("eofmark", "[boot]\r\na=1\r\n\x1A"));
    // A last line without its line break is ended first, or "[Rename]"
    // would become part of its value.
    EXPECT_EQ(std::string("[boot]\r\na=1\r\n[Rename]\r\n") + NewLine, AfterAdding("unended", "[boot]\r\na=1"));
    EXPECT_EQ(std::string("[boot]\r\na=1\r\n[Rename]\r\n") + NewLine, AfterAdding("unendedeof", "[boot]\r\na=1\x1A"));
    // No file at all, the rule on Windows 95: it is made, with the new line alone.
    std::string missing = CaseFile("missing");
    EXPECT_EQ(1, AddWininitDeletion(missing.c_str(), Victim));
    EXPECT_EQ(std::string("[Rename]\r\n") + NewLine, ReadBytes(missing));
}

TEST(WininitDeletion, EveryPendingLineIsKeptAndTheSectionMovesToTheEnd)
{
    std::string after = AfterAdding("middle", "[boot]\r\na=1\r\n"
                                              "[Rename]\r\n"
                                              "NUL=C:\\OLD\\FIRST.TMP\r\n"
                                              "C:\\NEW.DLL=C:\\TEMP\\NEW.TMP\r\n"
                                              "NUL=C:\\OLD\\SECOND.TMP\r\n"
                                              "NUL=C:\\OLD\\THIRD.TMP\r\n"
                                              "[386Enh]\r\nb=2\r\n");
    const std::string section = std::string("[Rename]\r\n"
                                            "NUL=C:\\OLD\\FIRST.TMP\r\n"
                                            "C:\\NEW.DLL=C:\\TEMP\\NEW.TMP\r\n"
                                            "NUL=C:\\OLD\\SECOND.TMP\r\n"
                                            "NUL=C:\\OLD\\THIRD.TMP\r\n") +
                                NewLine;
    ASSERT_GE(after.size(), section.size());
    EXPECT_EQ(section, after.substr(after.size() - section.size()));
    // The sections that followed it move up, in their order.
    std::string rest = after.substr(0, after.size() - section.size());
    EXPECT_EQ(std::string::npos, rest.find("Rename"));
    size_t boot = rest.find("[boot]\r\na=1\r\n");
    size_t enh = rest.find("[386Enh]\r\nb=2\r\n");
    ASSERT_NE(std::string::npos, boot);
    ASSERT_NE(std::string::npos, enh);
    EXPECT_LT(boot, enh);

    // A second deletion keeps the first one's line too.
    std::string path = "C:\\ut\\reboot\\middle.INI";
    EXPECT_EQ(1, AddWininitDeletion(path.c_str(), "C:\\UT\\OTHER.EXE"));
    EXPECT_EQ(section + "NUL=C:\\UT\\OTHER.EXE\r\n", ReadBytes(path).substr(rest.size()));
}

TEST(WininitDeletion, SectionsOverTheLimitLeaveTheFileAsItWas)
{
    // "[Rename]" and its line break, then 1153 lines, make 29988 bytes; 1154 make 30014.
    ASSERT_EQ(26u, NulLines(1).size());
    const std::string under = "[boot]\r\n[Rename]\r\n" + NulLines(1153);
    std::string after = AfterAdding("under", under);
    EXPECT_TRUE(after == under + NewLine) << after.size() << " bytes";

    const std::string over = "[boot]\r\n[Rename]\r\n" + NulLines(1154);
    after = AfterAdding("over", over, 0);
    EXPECT_TRUE(after == over) << after.size() << " bytes";
    // More than the reader's block holds.
    const std::string huge = "[boot]\r\n[Rename]\r\n" + NulLines(1400);
    after = AfterAdding("huge", huge, 0);
    EXPECT_TRUE(after == huge) << after.size() << " bytes";
}

TEST(WininitDeletion, FilesThatCannotBeWrittenLoseNothing)
{
    // Held open by a program that lets others read but not write: the
    // pending lines can be read, but must not be deleted, since the rebuilt
    // section could not be written back.
    const std::string pending = "[boot]\r\na=1\r\n[Rename]\r\nNUL=C:\\OLD\\ONE.TMP\r\nNUL=C:\\OLD\\TWO.TMP\r\n[x]\r\ny=1\r\n";
    std::string shared = CaseFile("readers");
    WriteBytes(shared, pending);
    HANDLE reading = CreateFileA(shared.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reading);
    char value[64];
    GetPrivateProfileStringA("Rename", "NUL", "", value, sizeof value, shared.c_str());
    EXPECT_STREQ("C:\\OLD\\ONE.TMP", value);
    EXPECT_EQ(0, AddWininitDeletion(shared.c_str(), Victim));
    CloseHandle(reading);
    EXPECT_EQ(pending, ReadBytes(shared));

    // Held open by another program without sharing.
    std::string held = CaseFile("held");
    WriteBytes(held, pending);
    HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXPECT_EQ(0, AddWininitDeletion(held.c_str(), Victim));
    CloseHandle(handle);
    EXPECT_EQ(pending, ReadBytes(held));
}

// Which [Reg] values name a key that removal may delete with all its subkeys.
#include <gtest/gtest.h>
#include "script/state.h"
#include "removal/regvalue.h"

static std::string KeyOf(const char *value, HKEY expectedRoot)
{
    HKEY root = nullptr;
    char subkey[PATH_SIZE];
    if (!SplitRegValue(value, &root, subkey, sizeof subkey))
        return "<refused>";
    EXPECT_EQ(expectedRoot, root) << value;
    return subkey;
}

TEST(RegValue, RootsMatchByteForByteAndOneSeparatorIsSkipped)
{
    EXPECT_EQ("Software\\SampleApp", KeyOf("HKEY_CURRENT_USER\\Software\\SampleApp", HKEY_CURRENT_USER));
    EXPECT_EQ("SOFTWARE\\Maker", KeyOf("HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker", HKEY_LOCAL_MACHINE));
    EXPECT_EQ(".smp\\shell", KeyOf("HKEY_CLASSES_ROOT\\.smp\\shell", HKEY_CLASSES_ROOT));
    EXPECT_EQ("Software\\X", KeyOf("HKEY_CURRENT_USER/Software\\X", HKEY_CURRENT_USER));  // any separator byte
    EXPECT_EQ("<refused>", KeyOf("hkey_current_user\\Software\\X", nullptr));
    EXPECT_EQ("<refused>", KeyOf("HKEY_USERS\\.DEFAULT\\X", nullptr));
}

TEST(RegValue, EmptyLevelsReadAsTheRegistryReadsThem)
{
    // The product's key, however its separators were typed.
    for (const char *value : {"HKEY_CURRENT_USER\\Software\\SampleApp\\", "HKEY_CURRENT_USER\\Software\\\\SampleApp",
                              "HKEY_CURRENT_USER\\\\Software\\SampleApp", "HKEY_CURRENT_USER\\Software\\SampleApp\\\\"})
        EXPECT_EQ("Software\\SampleApp", KeyOf(value, HKEY_CURRENT_USER)) << value;
    // A root, or a key directly below one, is every program's: never deleted.
    for (const char *value : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_CURRENT_USER\\\\\\",
                              "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\",
                              "HKEY_CURRENT_USER\\\\Software", "HKEY_LOCAL_MACHINE\\SOFTWARE\\",
                              "HKEY_LOCAL_MACHINE\\SYSTEM", "HKEY_CLASSES_ROOT\\.txt", "HKEY_CLASSES_ROOT\\CLSID\\",
                              // Keys that other programs share, in any case and with any empty levels.
                              "HKEY_CURRENT_USER\\Software\\Policies", "HKEY_LOCAL_MACHINE\\software\\MICROSOFT\\",
                              "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\\\Run",
                              "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services",
                              "HKEY_LOCAL_MACHINE\\Software\\Classes", "HKEY_CURRENT_USER\\Software\\Wow6432Node",
                              "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                              "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion",
                              "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet"})
        EXPECT_EQ("<refused>", KeyOf(value, nullptr)) << value;
    EXPECT_EQ("Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
              KeyOf("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", HKEY_CURRENT_USER));
    EXPECT_EQ("Software\\Microsoft\\Windows\\CurrentVersion\\Run\\SampleApp",
              KeyOf("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\SampleApp", HKEY_CURRENT_USER));
}

TEST(RegValue, TrailByte5CIsPartOfANameNotASeparator)
{
    // ソ is 0x83 0x5C: a key named after it ends in that byte but has no empty level.
    EXPECT_EQ("Software\\ソ", KeyOf("HKEY_CURRENT_USER\\Software\\ソ", HKEY_CURRENT_USER));
    EXPECT_EQ("Software\\ソフト\\表", KeyOf("HKEY_CURRENT_USER\\Software\\ソフト\\表", HKEY_CURRENT_USER));
    EXPECT_EQ("Software\\ソ", KeyOf("HKEY_CURRENT_USER\\Software\\ソ\\", HKEY_CURRENT_USER));
    EXPECT_EQ("<refused>", KeyOf("HKEY_CURRENT_USER\\ソ\\", nullptr));
    // Every level must fit the buffer whole: a cut path would name another key.
    char small[8];
    HKEY root;
    EXPECT_FALSE(SplitRegValue("HKEY_CURRENT_USER\\Software\\ソフト", &root, small, sizeof small));
    EXPECT_TRUE(SplitRegValue("HKEY_CURRENT_USER\\Soft\\ソ", &root, small, sizeof small));
    EXPECT_STREQ("Soft\\ソ", small);
}

// Keys other programs share, by what they are: the listed ones and every key
// above them, the class and file-type containers, the control sets and what
// they hold for every driver, and all of it in the 32-bit mirror too. A
// product's own item below a container stays its own.
TEST(RegValue, SharedKeysByWhatTheyAre)
{
    for (const char *key : {"Software\\Classes\\CLSID", "SOFTWARE\\classes\\Interface", "Software\\Classes\\TypeLib",
                            "Software\\Classes\\AppID", "Software\\Classes\\*", "Software\\Classes\\Directory",
                            "Software\\Classes\\Drive", "Software\\Classes\\Folder", "Software\\Classes\\AllFilesystemObjects",
                            "Software\\Classes\\.txt", "Software\\Wow6432Node\\Classes\\.doc", "Wow6432Node\\CLSID",
                            "Software\\Classes\\Wow6432Node\\CLSID", "SYSTEM\\ControlSet001", "System\\ControlSet002\\Services",
                            "System\\CurrentControlSet\\Enum", "System\\CurrentControlSet\\Control",
                            "SOFTWARE\\Wow6432Node\\Microsoft", "Software\\Microsoft\\Windows NT",
                            "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                            "Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                            "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", "Software\\Wow6432Node"})
        EXPECT_TRUE(IsSharedKey(key)) << key;
    for (const char *key : {"Software\\Classes\\CLSID\\{5E1A2B3C-0000-4000-8000-00000000ABCD}", "Software\\Classes\\Its.Document",
                            "System\\CurrentControlSet\\Services\\ItsDriver", "Software\\Vendor\\Product",
                            "CLSID\\{5E1A2B3C-0000-4000-8000-00000000ABCD}", "Software\\Wow6432Node\\Vendor\\Product",
                            "System\\ControlSets\\X", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp"})
        EXPECT_FALSE(IsSharedKey(key)) << key;
}

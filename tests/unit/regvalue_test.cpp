// Which [Reg] values name a key that removal may delete with all its subkeys.
#include <gtest/gtest.h>
#include "script/state.h"
#include "removal/regvalue.h"

static std::string KeyOf(const char *value, HKEY expectedRoot)
{
    HKEY root = nullptr;
    const char *subkey = SplitRegValue(value, &root);
    if (subkey == nullptr)
        return "<refused>";
    EXPECT_EQ(expectedRoot, root) << value;
    return subkey;
}

TEST(RegValue, RootsMatchByteForByteAndOneSeparatorIsSkipped)
{
    EXPECT_EQ("Software\\SampleApp", KeyOf("HKEY_CURRENT_USER\\Software\\SampleApp", HKEY_CURRENT_USER));
    EXPECT_EQ("SOFTWARE\\Maker", KeyOf("HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker", HKEY_LOCAL_MACHINE));
    EXPECT_EQ(".smp", KeyOf("HKEY_CLASSES_ROOT\\.smp", HKEY_CLASSES_ROOT));
    EXPECT_EQ("Software", KeyOf("HKEY_CURRENT_USER/Software", HKEY_CURRENT_USER));  // any separator byte
    EXPECT_EQ("<refused>", KeyOf("hkey_current_user\\Software\\X", nullptr));
    EXPECT_EQ("<refused>", KeyOf("HKEY_USERS\\.DEFAULT", nullptr));
}

TEST(RegValue, EmptyLevelsNeverReachTheDelete)
{
    // The registry opens "Software\" as "Software": a trailing separator
    // would delete every program's keys, as would the bare root.
    for (const char *value : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_CURRENT_USER\\\\Software",
                              "HKEY_CURRENT_USER\\Software\\", "HKEY_CURRENT_USER\\Software\\\\SampleApp",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker\\"})
        EXPECT_EQ("<refused>", KeyOf(value, nullptr)) << value;
}

TEST(RegValue, TrailByte5CIsPartOfANameNotASeparator)
{
    // ソ is 0x83 0x5C: a key named after it ends in that byte but has no empty level.
    EXPECT_EQ("Software\\ソ", KeyOf("HKEY_CURRENT_USER\\Software\\ソ", HKEY_CURRENT_USER));
    EXPECT_EQ("Software\\ソフト\\表", KeyOf("HKEY_CURRENT_USER\\Software\\ソフト\\表", HKEY_CURRENT_USER));
    EXPECT_EQ("<refused>", KeyOf("HKEY_CURRENT_USER\\Software\\ソ\\", nullptr));
}

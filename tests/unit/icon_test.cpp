// The built SETUP.EXE carries its icon as the shell expects it: group 102 in
// Japanese, one 32 x 32 image in 16 colours, stored as icon 1.
#include <gtest/gtest.h>
#include <windows.h>
#include "testpaths.h"

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

TEST(Resources, IconGroupHoldsOne32By32SixteenColourImage)
{
    HMODULE setup = LoadLibraryExA(TEST_SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, setup);
    WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    HRSRC group = FindResourceExA(setup, RT_GROUP_ICON, MAKEINTRESOURCEA(102), japanese);
    ASSERT_NE(nullptr, group);
    ASSERT_GE(SizeofResource(setup, group), sizeof(GroupIconHeader));
    const GroupIconHeader *header = static_cast<const GroupIconHeader *>(LockResource(LoadResource(setup, group)));
    EXPECT_EQ(1, header->type);
    ASSERT_EQ(1, header->count);
    const GroupIconEntry &entry = header->entries[0];
    EXPECT_EQ(32, entry.width);
    EXPECT_EQ(32, entry.height);
    EXPECT_EQ(16, entry.colourCount);
    EXPECT_EQ(1, entry.id);

    HRSRC image = FindResourceExA(setup, RT_ICON, MAKEINTRESOURCEA(1), japanese);
    ASSERT_NE(nullptr, image);
    const BITMAPINFOHEADER *bits = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(setup, image)));
    EXPECT_EQ(32, bits->biWidth);
    EXPECT_EQ(64, bits->biHeight);  // colour and mask rows
    EXPECT_EQ(4, bits->biBitCount);

    // The image must be a real drawing, not a blank square.
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE *>(const_cast<BITMAPINFOHEADER *>(bits)),
                                          SizeofResource(setup, image), TRUE, 0x00030000, 32, 32, 0);
    ASSERT_NE(nullptr, icon);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, info.hbmColor);
    int colours = 0;
    COLORREF seen[16];
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            bool known = false;
            for (int i = 0; i < colours; ++i)
                known = known || seen[i] == c;
            if (!known && colours < 16)
                seen[colours++] = c;
        }
    EXPECT_GE(colours, 4);
    DeleteDC(dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    FreeLibrary(setup);
}

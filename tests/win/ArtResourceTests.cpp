// The art as built into setup.exe: the LOGO resource of type PNG decodes, and
// icon group 1 offers images of 16, 32, 48 and 256 pixels that Windows loads.
#include "PNG.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

namespace {
// setup.exe lies in ..\..\setup of the build folder this test runs from.
std::wstring SetupPath() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    for (int up = 0; up < 3; ++up) path.erase(path.find_last_of(L'\\'));
    return path + L"\\setup\\setup.exe";
}

struct Module {
    HMODULE handle = LoadLibraryExW(SetupPath().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
};

// The bytes of a resource, read in place.
bool Resource(HMODULE m, LPCWSTR name, LPCWSTR type, const BYTE*& data, DWORD& size) {
    HRSRC r = FindResourceW(m, name, type);
    if (!r) return false;
    HGLOBAL g = LoadResource(m, r);
    size = SizeofResource(m, r);
    data = static_cast<const BYTE*>(LockResource(g));
    return data != nullptr;
}
} // namespace

TEST(ArtResources, LogoDecodes) {
    Module setup;
    ASSERT_NE(setup.handle, nullptr) << GetLastError();
    const BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(Resource(setup.handle, L"LOGO", L"PNG", data, size));
    TReadOnlyMemoryStream stream(data, static_cast<std::int32_t>(size));
    TPaletteImage logo = DecodePNG(stream);
    EXPECT_GT(logo.Width, 0);
    EXPECT_GT(logo.Height, 0);
#ifndef NORVANTA_PACKAGER_LOGO
    EXPECT_EQ(logo.Width, 120);
    EXPECT_EQ(logo.Height, 260);
#endif
}

#ifndef NORVANTA_PACKAGER_ICON
TEST(ArtResources, IconGroupOneHasFourSizes) {
    Module setup;
    ASSERT_NE(setup.handle, nullptr) << GetLastError();
    const BYTE* group = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(
        Resource(setup.handle, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, group, size));
    ASSERT_GE(size, 6u);
    EXPECT_EQ(group[4] | (group[5] << 8), 4); // entries
    for (int side : {16, 32, 48, 256}) {
        int id = LookupIconIdFromDirectoryEx(const_cast<PBYTE>(group), TRUE, side, side, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0) << side;
        const BYTE* bits = nullptr;
        DWORD length = 0;
        ASSERT_TRUE(
            Resource(setup.handle, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3) /* RT_ICON */, bits, length));
        HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(bits), length, TRUE, 0x00030000, side, side,
                                              LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << side;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm{};
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, side);
        EXPECT_EQ(bm.bmHeight, side);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}
#endif

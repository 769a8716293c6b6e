// What a packager may set in setup.exe, as built: the LOGO resource of type PNG
// decodes, icon group 1 offers images of 16, 32, 48 and 256 pixels that Windows
// loads, and the version resource reads back field by field with its copyright line.
#include "PNG.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

// Read as file properties and software inventories read it: through the version API.
TEST(VersionResource, EveryFieldReadsBack) {
    std::wstring path = SetupPath();
    DWORD unused = 0, size = GetFileVersionInfoSizeW(path.c_str(), &unused);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040004u); // 4.4.6.1
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00060001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00040004u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00060001u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x040C); // French, Unicode
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);

    std::string utf8 = NORVANTA_COPYRIGHT_LINE;
    std::wstring copyright(utf8.size(), L'\0');
    copyright.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         copyright.data(), static_cast<int>(copyright.size())));
#ifndef NORVANTA_PACKAGER_COPYRIGHT
    EXPECT_EQ(copyright, L"\u00A9 2026 The Norvanta Word Processor Team");
#endif
    const std::pair<const wchar_t*, std::wstring> fields[] = {
        {L"CompanyName", L"The Norvanta Word Processor Team"},
        {L"FileDescription", L"Installation du traitement de texte Norvanta (Version Light)"},
        {L"FileVersion", L"4.4.6.1"},
        {L"ProductName", L"Traitement de texte Norvanta"},
        {L"ProductVersion", L"4.4.6.1"},
        {L"OriginalFilename", L"setup.exe"},
        {L"LegalCopyright", copyright},
    };
    for (const auto& [name, expected] : fields) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040C04B0\\") + name;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), &value, &length)) << name;
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), expected) << name;
    }
}

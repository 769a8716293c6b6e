// The registry class and the settings records against Wine's registry.
#include "Files.h"
#include "Registry.h"
#include "Settings.h"
#include "Strings.h"
#include "TestDir.h"
#include "UpdateLog.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {
const char* kTestRoot = "Software\\NorvantaTests";

std::string TestKey() {
    return std::string(kTestRoot) + "\\" + std::to_string(GetCurrentProcessId());
}

bool RawKeyExists(HKEY root, const std::string& path, REGSAM view = 0) {
    HKEY k;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// The stored type and bytes; strings come back as the wide query returns them.
DWORD RawType(HKEY root, const std::string& path, const char* value, std::string* data = nullptr,
              REGSAM view = 0) {
    HKEY k;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return REG_NONE;
    std::wstring name(value, value + strlen(value));
    DWORD type = REG_NONE, size = 0;
    RegQueryValueExW(k, name.c_str(), nullptr, &type, nullptr, &size);
    if (data) {
        data->assign(size, '\0');
        RegQueryValueExW(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data->data()), &size);
    }
    RegCloseKey(k);
    return type;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, TestKey().c_str()); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot); }
};
} // namespace

TEST_F(RegistryTest, RootsAndRecordedPaths) {
    TRegistry reg;
    EXPECT_EQ(reg.RootKeyHandle(), HKEY_CURRENT_USER);
    EXPECT_EQ(reg.OpenKeyHandle(), nullptr);
    EXPECT_FALSE(reg.KeyPresent(TestKey()));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, TestKey())); // testing never creates

    reg.OpenOrCreateKey(TestKey());
    ASSERT_NE(reg.OpenKeyHandle(), nullptr);
    EXPECT_EQ(reg.OpenKeyPath(), TestKey());
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, TestKey()));

    HKEY before = reg.OpenKeyHandle();
    EXPECT_FALSE(reg.KeyPresent("Child"));  // relative to the open key
    EXPECT_EQ(reg.OpenKeyHandle(), before); // and the open key stays
    reg.OpenOrCreateKey("Child\\Grand");    // relative: below the open key
    EXPECT_EQ(reg.OpenKeyPath(), TestKey() + "\\Child\\Grand");
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, TestKey() + "\\Child\\Grand"));
    EXPECT_TRUE(reg.KeyPresent("\\" + TestKey() + "\\Child"));
    reg.OpenOrCreateKey("\\" + TestKey() + "\\Other"); // absolute: from the root
    EXPECT_EQ(reg.OpenKeyPath(), TestKey() + "\\Other");

    reg.ChangeRoot(HKEY_CURRENT_USER); // the same root changes nothing
    EXPECT_NE(reg.OpenKeyHandle(), nullptr);
    reg.ChangeRoot(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.OpenKeyHandle(), nullptr);
    EXPECT_EQ(reg.OpenKeyPath(), "");
    EXPECT_FALSE(reg.KeyPresent(TestKey())); // now taken from the new root
}

TEST_F(RegistryTest, ValuesAndTheirTypes) {
    TRegistry reg;
    reg.OpenOrCreateKey(TestKey());
    reg.PutText8("Version", "4.4.6.1");
    reg.PutText("Folder", L"C:\\Mod\u00E8les");
    reg.PutNumber("Size", -5);
    reg.PutFlag("On", true);
    reg.PutFlag("Off", false);
    std::string data;
    EXPECT_EQ(RawType(HKEY_CURRENT_USER, TestKey(), "Version", &data), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, std::string("4\0.\0"
                                "4\0.\0"
                                "6\0.\0"
                                "1\0\0\0",
                                16));
    // A UTF-8 text beyond ASCII (a packager's publisher name) is stored as its characters.
    reg.PutText8("Publisher", "\xC3\x89"
                              "ditions Norvanta \xE2\x80\x94 \xC3\xA9quipe");
    EXPECT_EQ(RawType(HKEY_CURRENT_USER, TestKey(), "Publisher", &data), static_cast<DWORD>(REG_SZ));
    const std::wstring publisher = L"\u00C9ditions Norvanta \u2014 \u00E9quipe";
    EXPECT_EQ(data,
              std::string(reinterpret_cast<const char*>(publisher.c_str()), (publisher.size() + 1) * 2));
    EXPECT_EQ(reg.GetText("Publisher"), publisher);
    EXPECT_EQ(reg.ValueByteSize("Publisher"), static_cast<std::int32_t>((publisher.size() + 1) * 2));
    EXPECT_EQ(RawType(HKEY_CURRENT_USER, TestKey(), "On", &data), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(reg.GetText("Folder"), L"C:\\Mod\u00E8les");
    EXPECT_EQ(reg.GetText("Version"), L"4.4.6.1");
    EXPECT_EQ(reg.GetNumber("Size"), -5);
    EXPECT_TRUE(reg.GetFlag("On"));
    EXPECT_FALSE(reg.GetFlag("Off"));
    EXPECT_TRUE(reg.ValuePresent("Off"));
    EXPECT_EQ(reg.ValueByteSize("Missing"), -1);
    EXPECT_EQ(reg.GetText("Missing"), L"");
    EXPECT_EQ(reg.GetNumber("Missing"), 0);
    reg.PutNumber("Two", 2);
    EXPECT_TRUE(reg.GetFlag("Two"));

    // An empty value, and a string stored without its terminating NUL.
    HKEY k = reg.OpenKeyHandle();
    RegSetValueExW(k, L"Empty", 0, REG_SZ, nullptr, 0);
    EXPECT_EQ(reg.GetText("Empty"), L"");
    const wchar_t raw[] = L"ABCDEFGH";
    RegSetValueExW(k, L"NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 8 * sizeof(wchar_t));
    EXPECT_EQ(reg.GetText("NoNul"), L"ABCDEFGH");
    // A number that is not four bytes long.
    const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    RegSetValueExA(k, "Wide", 0, REG_QWORD, eight, 8);
    EXPECT_EQ(reg.GetNumber("Wide"), 0);
    EXPECT_EQ(reg.GetText("Size"), L""); // a number is no text

    // With no key open, writes are lost and reads answer as for a missing value.
    TRegistry none;
    none.ChangeRoot(HKEY_LOCAL_MACHINE);
    none.PutText8("x", "y");
    EXPECT_EQ(none.ValueByteSize("x"), -1);
    EXPECT_EQ(none.GetText("x"), L"");
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Norvanta Word Processor");
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                          KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k) == ERROR_SUCCESS) {
            RegDeleteTreeA(k, "Norvanta Word Processor");
            RegCloseKey(k);
        }
    }
};

TEST_F(SettingsTest, FirstRunKeepsDefaultsAndCreatesNothing) {
    std::wstring dir = L"unchanged";
    TInstallOptions o;
    EXPECT_FALSE(LoadInstallSettings(dir, o));
    EXPECT_EQ(dir, L"unchanged");
    EXPECT_TRUE(o.AllUsers && o.DesktopShortcut && o.Launch);
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(SettingsTest, PartialSettingsReplaceOnlyWhatIsPresent) {
    TRegistry reg;
    reg.OpenOrCreateKey(kSettingsKey);
    reg.PutFlag("INSTALLTOALL", false);
    std::wstring dir = L"default";
    TInstallOptions o;
    EXPECT_TRUE(LoadInstallSettings(dir, o));
    EXPECT_EQ(dir, L"default"); // no MAINDIR value
    EXPECT_FALSE(o.AllUsers);
    EXPECT_TRUE(o.DesktopShortcut);
    EXPECT_TRUE(o.Launch);
}

TEST_F(SettingsTest, SaveWritesSettingsAndTheUninstallEntry) {
    TInstallOptions o;
    o.AllUsers = false;
    o.Launch = false;
    SaveInstallSettings(L"C:\\Program Files\\Norvanta", o, false, nullptr, 3u * 1024 * 1024 - 1023);

    std::wstring dir;
    TInstallOptions back;
    ASSERT_TRUE(LoadInstallSettings(dir, back));
    EXPECT_EQ(dir, L"C:\\Program Files\\Norvanta");
    EXPECT_FALSE(back.AllUsers);
    EXPECT_TRUE(back.DesktopShortcut);
    EXPECT_FALSE(back.Launch);
    EXPECT_EQ(RawType(HKEY_CURRENT_USER, kSettingsKey, "LAUNCH"), static_cast<DWORD>(REG_DWORD));

    // The uninstall entry lands in the 32-bit view of the machine key.
    std::string data;
    EXPECT_EQ(RawType(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", &data, KEY_WOW64_32KEY),
              static_cast<DWORD>(REG_SZ));
    std::wstring uninstall(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    EXPECT_EQ(uninstall, std::wstring(L"\"C:\\Program Files\\Norvanta\\qrd.exe\" -ui\0", 40));
    EXPECT_EQ(RawType(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", &data, KEY_WOW64_32KEY),
              static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, std::string("4\0.\0"
                                "4\0.\0"
                                "6\0.\0"
                                "1\0\0\0",
                                16));
    EXPECT_EQ(RawType(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize", &data, KEY_WOW64_32KEY),
              static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, std::string("\x00\x0C\0\0", 4));
    EXPECT_EQ(RawType(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher", &data, KEY_WOW64_32KEY),
              static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RawType(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", &data, KEY_WOW64_32KEY),
              static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"Traitement de texte Norvanta");
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY));

    // What deployment tools read, and another account's next run finds the folder and options by.
    TRegistry entry;
    entry.ChangeRoot(HKEY_LOCAL_MACHINE);
    ASSERT_EQ(entry.OpenOrCreateKey(kUninstallKey), ERROR_SUCCESS); // written to below
    EXPECT_EQ(entry.GetText("QuietUninstallString"), L"\"C:\\Program Files\\Norvanta\\qrd.exe\" -ui /S");
    EXPECT_EQ(entry.GetText("InstallDate").size(), 8u);
    EXPECT_EQ(entry.GetNumber("NoModify") + entry.GetNumber("NoRepair") * 10 +
                  entry.GetNumber("VersionMajor") * 100 + entry.GetNumber("VersionMinor") * 1000,
              4411);
    EXPECT_EQ(entry.GetText("URLInfoAbout"), GetTextW(txtPortableHelpUrl));
    TInstallOptions found;
    ASSERT_TRUE(LoadUninstallEntry(dir, found));
    EXPECT_EQ(dir, L"C:\\Program Files\\Norvanta");
    EXPECT_FALSE(found.AllUsers || found.Launch);
    // An entry written before InstallLocation existed gives the folder of its program.
    entry.PutText("InstallLocation", L"");
    entry.PutText("DisplayIcon", L"D:\\Older\\qrd.exe");
    ASSERT_TRUE(LoadUninstallEntry(dir, found));
    EXPECT_EQ(dir, L"D:\\Older");
}

TEST_F(SettingsTest, PortableWritesNoUninstallEntry) {
    SaveInstallSettings(L"D:\\Norvanta", TInstallOptions{}, true);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
}

TEST(UpdateLogFile, MergesIntoTheFileAndLeavesAnUnreadableOneAlone) {
    TestDir dir;
    std::wstring log = dir / L"Update.log";
    TStringList files;
    EXPECT_TRUE(WriteUpdateLog(dir.path(), files, 1.0)); // nothing to record
    EXPECT_FALSE(FileIsPresent(log));

    files.Lines = {"C:\\P\\b.rtf\t!", "C:\\P\\a.rtf\t!"};
    ASSERT_TRUE(WriteUpdateLog(dir.path(), files, 1.0));
    std::string bytes;
    ReadWholeFile(log, bytes);
    EXPECT_EQ(bytes, "*000000000000F03F\r\nC:\\P\\a.rtf\t!\r\nC:\\P\\b.rtf\t!\r\n");

    files.Lines = {"C:\\P\\a.rtf\t!"};
    ASSERT_TRUE(WriteUpdateLog(dir.path(), files, 2.0));
    ReadWholeFile(log, bytes);
    EXPECT_EQ(bytes, "*000000000000F03F\r\nC:\\P\\b.rtf\t!\r\n*0000000000000040\r\nC:\\P\\a.rtf\t!\r\n");

    HANDLE lock = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteUpdateLog(dir.path(), files, 3.0));
    CloseHandle(lock);
    ReadWholeFile(log, bytes);
    EXPECT_EQ(bytes, "*000000000000F03F\r\nC:\\P\\b.rtf\t!\r\n*0000000000000040\r\nC:\\P\\a.rtf\t!\r\n");
}

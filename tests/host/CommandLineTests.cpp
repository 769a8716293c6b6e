// Splitting the command line and recognising the switches.
#include "CommandLine.h"
#include <gtest/gtest.h>

namespace {
wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}
using Args = std::vector<std::wstring>;
} // namespace

TEST(CommandLine, SplittingFollowsTheQuotingRules) {
    EXPECT_EQ(SplitCommandLine(L"setup.exe /S"), (Args{L"setup.exe", L"/S"}));
    EXPECT_EQ(SplitCommandLine(L"\"C:\\Mes fichiers\\setup.exe\"  \t-D\"C:\\A B\"x"),
              (Args{L"C:\\Mes fichiers\\setup.exe", L"-DC:\\A Bx"}));
    // Codes 1 to 32 separate; an empty pair of quotes where an argument would begin is skipped.
    EXPECT_EQ(SplitCommandLine(std::wstring(L"a\x01"
                                            L"b\x1F"
                                            L"c \"\" d")),
              (Args{L"a", L"b", L"c", L"d"}));
    EXPECT_EQ(SplitCommandLine(L"a \"unterminated run"), (Args{L"a", L"unterminated run"}));
    EXPECT_EQ(SplitCommandLine(L"x \"\"\"\" y"), (Args{L"x", L"y"}));
    EXPECT_EQ(SplitCommandLine(L""), Args{});
    EXPECT_EQ(SplitCommandLine(L"   "), Args{});
    // Arguments of any length are taken whole.
    std::wstring longArg = L"-D" + std::wstring(5000, L'x');
    Args split = SplitCommandLine(L"setup " + longArg);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[1], longArg);
}

TEST(CommandLine, SilentSwitch) {
    for (const wchar_t* yes : {L"-S", L"/S", L"-s", L"/s", L"-Sxyz", L"/Silent"})
        EXPECT_TRUE(IsSilentSwitch(yes)) << yes;
    for (const wchar_t* no : {L"S", L"--S", L"-", L"/", L"-D", L"\\S", L""})
        EXPECT_FALSE(IsSilentSwitch(no)) << no;
    // Argument 0 is the program itself, never a switch.
    EXPECT_FALSE(FindSilentSwitch({L"/S"}));
    EXPECT_TRUE(FindSilentSwitch({L"setup", L"x", L"/s"}));
}

TEST(CommandLine, DestinationSwitchTheFirstWins) {
    std::wstring d;
    EXPECT_FALSE(FindDestinationSwitch({L"setup", L"/S"}, d, AsciiUpper));
    ASSERT_TRUE(FindDestinationSwitch({L"setup", L"-DC:\\Apps\\Editor"}, d, AsciiUpper));
    EXPECT_EQ(d, L"C:\\Apps\\Editor");
    ASSERT_TRUE(FindDestinationSwitch({L"setup", L"/d"}, d, AsciiUpper));
    EXPECT_EQ(d, L"");
    ASSERT_TRUE(FindDestinationSwitch({L"setup", L"/dfirst", L"/S", L"-Dsecond"}, d, AsciiUpper));
    EXPECT_EQ(d, L"first");
    EXPECT_FALSE(FindDestinationSwitch({L"-Dprogram-name"}, d, AsciiUpper));
    EXPECT_FALSE(FindDestinationSwitch({L"setup", L"D:\\x", L"+Dx"}, d, AsciiUpper));
}

TEST(CommandLine, LogSwitchIsNeitherSilentNorADestination) {
    std::wstring f;
    EXPECT_FALSE(FindLogSwitch({L"setup", L"/S", L"/D"}, f));
    EXPECT_FALSE(FindLogSwitch({L"/LOG=program-name"}, f));
    for (const wchar_t* no : {L"/LOGx", L"/LOGx=a", L"LOG=a", L"--LOG=a", L"/LO=a"})
        EXPECT_FALSE(FindLogSwitch({L"setup", no}, f)) << no;
    // Alone, it asks for a log with no file named.
    f = L"x";
    ASSERT_TRUE(FindLogSwitch({L"setup", L"-log", L"/LOG=later"}, f));
    EXPECT_EQ(f, L"");
    ASSERT_TRUE(FindLogSwitch({L"setup", L"-log=C:\\A B\\run.log"}, f));
    EXPECT_EQ(f, L"C:\\A B\\run.log");
    ASSERT_TRUE(FindLogSwitch({L"setup", L"/LoG=first", L"/S", L"-LOG=second"}, f));
    EXPECT_EQ(f, L"first");
    ASSERT_TRUE(FindLogSwitch({L"setup", L"/LOG="}, f));
    EXPECT_EQ(f, L"");
    // Quoted as the destination is, the whole argument is the switch.
    ASSERT_TRUE(FindLogSwitch(SplitCommandLine(L"setup \"/LOG=C:\\Mes journaux\\u.log\" /S"), f));
    EXPECT_EQ(f, L"C:\\Mes journaux\\u.log");
    // The log switch changes neither of the other rules.
    std::wstring d;
    Args args{L"setup", L"/LOG=D:\\x.log", L"-LOG=S.log"};
    EXPECT_FALSE(FindSilentSwitch(args));
    EXPECT_FALSE(FindDestinationSwitch(args, d, AsciiUpper));
}

// The forms other installers' tools send, read by the same rules.
TEST(CommandLine, SwitchesOtherInstallersUse) {
    for (const wchar_t* yes : {L"/VERYSILENT", L"-quiet", L"/Quiet"})
        EXPECT_TRUE(FindSilentSwitch({L"setup", yes}));
    EXPECT_FALSE(FindSilentSwitch({L"setup", L"/QUIETX", L"VERYSILENT", L"/VERY"}));
    EXPECT_TRUE(FindHelpSwitch({L"setup", L"/??", L"-help"}));
    EXPECT_FALSE(FindHelpSwitch({L"setup", L"/??", L"/HELPME", L"/nodesktop"}));
    EXPECT_EQ(FindShortcutScope({L"setup", L"/CURRENTUSER", L"/ALLUSERS"}), 0);
    EXPECT_EQ(FindShortcutScope({L"setup", L"-allusers", L"/CURRENTUSER"}), 1);

    // Unquoted, a "=" form runs on to the next switch, blanks and all; quoted, or
    // the older form, it ends with its argument.
    auto fromLine = [](const std::wstring& line) {
        std::wstring d;
        FindDestinationSwitch(SplitCommandLine(line), d, AsciiUpper, &line);
        return d;
    };
    EXPECT_EQ(fromLine(L"setup /S /D=C:\\Program  Files\\N x"), L"C:\\Program  Files\\N x");
    EXPECT_EQ(fromLine(L"setup /DIR=C:\\A B /LOG=x /S"), L"C:\\A B");
    EXPECT_EQ(fromLine(L"setup /DIR=\"C:\\A B\" C"), L"C:\\A B");
    EXPECT_EQ(fromLine(L"setup /DC:\\A B"), L"C:\\A");
    EXPECT_EQ(fromLine(L"setup -dir=C:\\first /D=C:\\second"), L"C:\\first");

    std::wstring v;
    EXPECT_TRUE(FindSwitchValue({L"qrd", L"/elevated", L"-ELEVATED=12", L"/ELEVATED=3"}, L"ELEVATED", v));
    EXPECT_EQ(v, L"12");
    EXPECT_FALSE(FindSwitchValue({L"qrd", L"/ELEVATEDX=1", L"ELEVATED=2", L"/ELEVATED"}, L"ELEVATED", v));
}

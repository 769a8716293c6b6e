// The launcher's own command line and the one it builds for the program it starts.
#include "LaunchArgs.h"
#include <gtest/gtest.h>

namespace {

// The C runtime's splitting of arguments after the program name: 2n backslashes
// and a quote give n backslashes and toggle quoting, 2n+1 give n and a literal quote.
std::vector<std::wstring> Split(const std::wstring& line) {
    std::vector<std::wstring> out;
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= line.size()) return out;
        std::wstring arg;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            wchar_t c = line[i];
            if (c == L'\\') {
                size_t n = 0;
                while (i < line.size() && line[i] == L'\\') ++n, ++i;
                if (i < line.size() && line[i] == L'"') {
                    arg.append(n / 2, L'\\');
                    if (n % 2) {
                        arg += L'"';
                        continue;
                    }
                } else {
                    arg.append(n, L'\\');
                }
                --i;
                continue;
            }
            if (c == L'"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && (c == L' ' || c == L'\t')) break;
            arg += c;
        }
        out.push_back(arg);
    }
}

LaunchRequest Parse(const std::vector<std::wstring>& args) {
    LaunchRequest r;
    std::wstring error;
    EXPECT_TRUE(ParseLaunchArgs(args, r, error)) << std::string(error.begin(), error.end());
    return r;
}

std::wstring Refusal(const std::vector<std::wstring>& args) {
    LaunchRequest r;
    std::wstring error;
    EXPECT_FALSE(ParseLaunchArgs(args, r, error));
    return error;
}

} // namespace

TEST(LaunchArgs, ModesTimeoutsAndTheProgram) {
    auto r = Parse({L"run", L"--", L"C:\\x\\setup.exe", L"/S"});
    EXPECT_EQ(r.mode, LaunchMode::Run);
    EXPECT_EQ(r.timeoutMs, kDefaultRunTimeoutMs);
    EXPECT_EQ(r.command, (std::vector<std::wstring>{L"C:\\x\\setup.exe", L"/S"}));

    r = Parse({L"paint", L"--timeout", L"2500", L"--", L"noop.exe", L"window"});
    EXPECT_EQ(r.mode, LaunchMode::Paint);
    EXPECT_EQ(r.timeoutMs, 2500u);
    EXPECT_EQ(r.command, (std::vector<std::wstring>{L"noop.exe", L"window"}));

    EXPECT_EQ(Parse({L"paint", L"--", L"a.exe"}).timeoutMs, kDefaultPaintTimeoutMs);
    // Everything after -- belongs to the program, options and a second -- too.
    r = Parse({L"run", L"--", L"a.exe", L"--timeout", L"5", L"--"});
    EXPECT_EQ(r.command, (std::vector<std::wstring>{L"a.exe", L"--timeout", L"5", L"--"}));
    EXPECT_EQ(r.timeoutMs, kDefaultRunTimeoutMs);
}

TEST(LaunchArgs, Refusals) {
    EXPECT_NE(Refusal({}), L"");
    EXPECT_NE(Refusal({L"walk", L"--", L"a.exe"}).find(L"walk"), std::wstring::npos);
    EXPECT_NE(Refusal({L"run", L"a.exe"}), L"");
    EXPECT_NE(Refusal({L"run", L"--"}), L"");
    EXPECT_NE(Refusal({L"run", L"--", L""}), L"");
    EXPECT_NE(Refusal({L"run", L"--verbose", L"--", L"a.exe"}).find(L"--verbose"), std::wstring::npos);
    for (const wchar_t* bad : {L"", L"0", L"-5", L"12ms", L"1234567890"})
        EXPECT_NE(Refusal({L"run", L"--timeout", bad, L"--", L"a.exe"}), L"") << bad;
    EXPECT_NE(Refusal({L"run", L"--timeout"}), L"");
}

TEST(LaunchArgs, QuotingOnlyWhenNeeded) {
    EXPECT_EQ(QuoteArgument(L"/S"), L"/S");
    EXPECT_EQ(QuoteArgument(L"C:\\a\\b"), L"C:\\a\\b");
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"C:\\Program Files\\x"), L"\"C:\\Program Files\\x\"");
    EXPECT_EQ(QuoteArgument(L"C:\\dir with space\\"), L"\"C:\\dir with space\\\\\"");
    EXPECT_EQ(QuoteArgument(L"say \"hi\""), L"\"say \\\"hi\\\"\"");
    EXPECT_EQ(BuildCommandLine({L"Z:\\b\\setup.exe", L"/S", L"/DC:\\Mes programmes"}),
              L"Z:\\b\\setup.exe /S \"/DC:\\Mes programmes\"");
}

TEST(LaunchArgs, EveryArgumentComesBackWhole) {
    const std::vector<std::wstring> nasty = {
        L"plain",   L"",      L"two words", L"tab\there", L"a\\b\\",     L"\\\\server\\share\\",
        L"q\"uote", L"\"",    L"\\\"",      L"x\\\\\"y",  L"end\\\\",    L"with space\\",
        L"\\",      L"\\\\ ", L"é à ü",     L"-D\"\"",    L"trailing \\"};
    for (const auto& arg : nasty) {
        auto back = Split(QuoteArgument(arg));
        ASSERT_EQ(back.size(), 1u) << std::string(arg.begin(), arg.end());
        EXPECT_EQ(back[0], arg);
    }
    std::vector<std::wstring> all = {L"prog"};
    all.insert(all.end(), nasty.begin(), nasty.end());
    EXPECT_EQ(Split(BuildCommandLine(all)), all);
}

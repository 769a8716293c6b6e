// The demo word processor's RTF-to-text reading, on hand-made input and on every
// template and insert of the demo payload.
#include "RtfText.h"
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <iterator>

TEST(RtfText, ParagraphsEscapesAndHiddenGroups) {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0;}"
                      "{\\info{\\title Secret}}{\\*\\generator Hidden;}"
                      "\\pard\\b Objet\\b0 : r\\'e9clamation\\par\r\n"
                      "Prix\\tab 40\\'80\\par Accol\\{ade\\} et \\\\ barre\\par"
                      "\\uc1\\u8212?tiret \\u-3913?x\\line fin}";
    std::wstring want = L"Objet: r\u00E9clamation\r\nPrix\t40\u20AC\r\nAccol{ade} et \\ barre\r\n"
                        L"\u2014tiret \uF0B7x\r\nfin";
    EXPECT_EQ(RtfToText(rtf), want);
}

TEST(RtfText, UnicodeFallbackCountsAndBrokenInput) {
    // \uc2 makes two fallback characters; an escape counts as one.
    EXPECT_EQ(RtfToText("{\\rtf1\\uc2\\u233\\'65\\'65x}"), L"\u00E9x");
    // Unbalanced groups, a cut escape and a trailing backslash end cleanly.
    EXPECT_EQ(RtfToText("}}a{b\\'4"), L"ab4");
    EXPECT_EQ(RtfToText("x\\'zz"), L"xzz");
    EXPECT_EQ(RtfToText("a\\"), L"a");
    EXPECT_EQ(RtfToText("{\\rtf1 \\u"), L"");
    EXPECT_EQ(RtfToText(""), L"");
}

TEST(RtfText, EveryDemoDocumentReadsAsText) {
    namespace fs = std::filesystem;
    fs::path root = fs::path(NORVANTA_SOURCE_DIR) / "resources" / "payload";
    int count = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.path().extension() != ".rtf") continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(bytes.compare(0, 6, "{\\rtf1"), 0) << e.path();
        std::wstring text = RtfToText(bytes);
        EXPECT_GT(text.size(), 5u) << e.path();
        EXPECT_EQ(text.find_first_of(L"\\{}"), std::wstring::npos) << e.path();
        EXPECT_EQ(text.find(L"Times New Roman"), std::wstring::npos) << e.path();
        ++count;
    }
    EXPECT_EQ(count, 26 + 63);
}

// Text conversion, the string table and formatting.
#include "MessageBox.h"
#include "Product.h"
#include "Strings.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>

TEST(TextConv, AccentedLettersRoundTrip) {
    const std::string modeles = "\x4D\x6F\x64\xC3\xA8\x6C\x65\x73";
    std::wstring w = Utf8ToUtf16(modeles);
    ASSERT_EQ(w.size(), 7u); // eight bytes, seven letters
    EXPECT_EQ(w[3], 0x00E8);
    EXPECT_EQ(Utf16ToUtf8(w), modeles);

    std::wstring fr = Utf8ToUtf16(GetText(txtLanguageName));
    ASSERT_EQ(fr.size(), 8u);
    EXPECT_EQ(fr[4], 0x00E7);
    EXPECT_EQ(Utf8ToUtf16("\xC3\xA9")[0], 0x00E9);
}

TEST(TextConv, ThreeByteSequencesAndDroppedPlanes) {
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82\xAC"), std::wstring(1, wchar_t(0x20AC)));
    // A four-byte sequence gives nothing and consumes its four bytes.
    EXPECT_EQ(Utf8ToUtf16("a\xF0\x9F\x98\x80z"), L"az");
    // A stray continuation byte skips four bytes.
    EXPECT_EQ(Utf8ToUtf16("\x80"
                          "bcdE"),
              L"E");
    // Units above U+07FF become three bytes; a surrogate pair becomes two of them.
    std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
    EXPECT_EQ(Utf16ToUtf8(pair), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(Utf16ToUtf8(std::wstring(1, wchar_t(0x7FF))), "\xDF\xBF");
    EXPECT_EQ(Utf16ToUtf8(std::wstring(1, wchar_t(0x800))), "\xE0\xA0\x80");
}

TEST(TextConv, StopsAtNulAndNeverReadsPastTheEnd) {
    EXPECT_EQ(Utf8ToUtf16(std::string("ab\0cd", 5)), L"ab");
    // Sequences cut short by the end give nothing. Exact-size heap copies let the
    // address sanitizer catch any read beyond them.
    for (const char* s : {"x\xC3", "x\xE2\x82", "x\xE2", "x\xF0\x9F"}) {
        std::size_t n = std::strlen(s);
        std::unique_ptr<char[]> exact(new char[n]);
        std::memcpy(exact.get(), s, n);
        EXPECT_EQ(Utf8ToUtf16(exact.get(), n), L"x") << s;
    }
    // A NUL inside a sequence ends the text there.
    EXPECT_EQ(Utf8ToUtf16(std::string("a\xC3\0\xA9", 4)), L"a");
    EXPECT_EQ(Utf8ToUtf16(GetText(103)), L"");
}

TEST(StringTable, AllTextsPresentAndPageTitles) {
    for (int n = kFirstText; n <= kLastText; ++n) {
        ASSERT_NE(GetText(n), nullptr) << n;
        if (n != 103) {
            EXPECT_GT(std::strlen(GetText(n)), 0u) << n;
        }
    }
    EXPECT_STREQ(GetText(83), "fr");
    EXPECT_STREQ(GetText(85), "Traitement de texte Norvanta");
    // The shortcut file the setup makes and the uninstaller removes is named after it.
    EXPECT_EQ(GetTextW(txtProductName) + L".lnk", kShortcutFileName);
    EXPECT_STREQ(GetText(113), "Annuler");
    EXPECT_STREQ(GetText(114), "Parcourir...");
    EXPECT_STREQ(PageTitle(0), "Merci de faire confiance \xC3\xA0 Norvanta");
    EXPECT_STREQ(PageTitle(5), "Installation termin\xC3\xA9"
                               "e");
    EXPECT_STREQ(PageTitle(6), "");
    EXPECT_EQ(GetText(98), PageTitle(1));
    EXPECT_STREQ(GetText(82), "");
    EXPECT_STREQ(GetText(115), "");
    // Carriage returns only, no line feeds.
    for (int n = kFirstText; n <= kLastText; ++n) EXPECT_EQ(std::strchr(GetText(n), '\n'), nullptr) << n;
    EXPECT_NE(std::strstr(GetText(106), "termin\xC3\xA9"
                                        "e !\r\rPour poursuivre"),
              nullptr);
    EXPECT_EQ(std::string(GetText(107)).rfind("https://www.example.org/", 0), 0u);
}

TEST(StringTable, WorkedFormattedTexts) {
    EXPECT_EQ(FormattedProductText(txtWelcome),
              "Ce programme va installer Traitement de texte Norvanta (Version Light) "
              "(version 4.4.6.1) sur votre ordinateur.");
    EXPECT_EQ(
        FormattedProductText(txtFinished).rfind("Traitement de texte Norvanta (Version Light) 4.4.6.1 a ", 0),
        0u);
    std::string msg = FormatText(GetText(txtCannotCreateFile), {"C:\\x\\qrd.exe"});
    EXPECT_EQ(msg.rfind("Impossible de cr\xC3\xA9"
                        "er le fichier \"C:\\x\\qrd.exe\".\rCe fichier",
                        0),
              0u);
}

TEST(StringTable, FormattingRules) {
    EXPECT_EQ(FormatText("100%% %s", {"sûr"}), "100% sûr");
    EXPECT_EQ(FormatText("%s-%s-%s", {"a"}), "a--");
    EXPECT_EQ(FormatText("%d %", {}), "%d %");
    // Arguments are not themselves formatted.
    EXPECT_EQ(FormatText("%s", {"%s%%"}), "%s%%");
    std::string big(5000, 'x');
    EXPECT_EQ(FormatText("<%s>", {big}).size(), kMaxFormatted);
    EXPECT_EQ(FormatText(big, {}).size(), kMaxFormatted);
}

TEST(MessageBoxMapping, StylesAndAnswers) {
    EXPECT_EQ(MessageBoxStyle(miInformation, mbOk), 0x2040u);
    EXPECT_EQ(MessageBoxStyle(miQuestion, mbYesNo), 0x2024u);
    EXPECT_EQ(MessageBoxStyle(miError, mbAbortRetryIgnore), 0x2012u);
    EXPECT_EQ(MessageBoxStyle(0, mbOk), 0x2010u);
    EXPECT_EQ(MessageBoxStyle(7, static_cast<MsgButtons>(9)), 0x2010u);
    for (int r : {3, 4, 5, 6, 7}) EXPECT_EQ(MessageBoxAnswer(r), r);
    for (int r : {0, 1, 2, 8, 10, 11, -1}) EXPECT_EQ(MessageBoxAnswer(r), idOk);
}

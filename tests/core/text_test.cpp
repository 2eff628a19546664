#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace {
// Decodes with room for exactly capacity units; the sentinel shows where writing stopped.
std::wstring decode(const std::string& bytes, size_t capacity = 64) {
  std::wstring out(capacity + 1, L'#');
  size_t written = utf8_to_wide(bytes.data(), bytes.size(), out.data(), capacity);
  EXPECT_EQ(out[capacity], L'#') << "wrote past the capacity";
  return out.substr(0, written);
}

std::string encode(const std::wstring& text, size_t capacity = 64) {
  std::string out(capacity + 1, '#');
  size_t written = wide_to_utf8(text.data(), text.size(), out.data(), capacity);
  EXPECT_EQ(out[capacity], '#') << "wrote past the capacity";
  return out.substr(0, written);
}

std::wstring built(size_t capacity, void (*steps)(text_builder*)) {
  std::wstring buffer(capacity + 1, L'#');
  buffer[0] = L'\0';
  text_builder builder = {buffer.data(), capacity, 0};
  steps(&builder);
  EXPECT_EQ(buffer[capacity], L'#') << "wrote past the capacity";
  EXPECT_EQ(buffer[builder.length], L'\0') << "always terminated";
  return buffer.substr(0, builder.length);
}
}  // namespace

TEST(Utf8ToWide, DecodesEveryLength) {
  EXPECT_EQ(decode("plain ascii"), L"plain ascii");
  EXPECT_EQ(decode("\xc3\xa9t\xc3\xa9"), L"\u00e9t\u00e9");
  EXPECT_EQ(decode("\xe2\x82\xac \xef\xbf\xbd"), L"\u20ac \ufffd");
  EXPECT_EQ(decode(std::string("a\0b", 3)), std::wstring(L"a\0b", 3)) << "a zero byte is a character";
  // Beyond the basic plane: a surrogate pair where a unit is 16 bits, one unit where it is 32.
  std::wstring smiley = decode("\xf0\x9f\x98\x80");
  EXPECT_EQ(smiley, L"\U0001F600");
  EXPECT_EQ(smiley.size(), sizeof(wchar_t) == 2 ? 2u : 1u);
  EXPECT_EQ(decode("\xf4\x8f\xbf\xbf"), L"\U0010FFFF");
  EXPECT_EQ(decode("\xed\x9f\xbf\xee\x80\x80"), L"\ud7ff\ue000") << "the neighbours of the surrogates";
}

TEST(Utf8ToWide, RefusesMalformedInputAsAWhole) {
  const char* malformed[] = {
      "\xc0\xaf",
      "\xc1\xbf",
      "\xe0\x80\xaf",
      "\xe0\x9f\xbf",  // overlong
      "\xf0\x80\x80\xaf",
      "\xf0\x8f\xbf\xbf",  // overlong
      "\xed\xa0\x80",
      "\xed\xbf\xbf",
      "\xed\xa0\xbd\xed\xb8\x80",  // encoded surrogates
      "\xf4\x90\x80\x80",
      "\xf5\x80\x80\x80",
      "\xff",
      "\xfe",  // beyond U+10FFFF
      "ok \xc3",
      "ok \xe2\x82",
      "\xf0\x9f\x98",  // truncated
      "\x80",
      "a\xbf"
      "b",
      "\xe2\x28\xa1",
      "\xc3\xc3\xa9",  // stray or missing continuation
  };
  for (const char* bytes : malformed) {
    std::string text = bytes;
    EXPECT_EQ(decode(text), L"") << "accepted: " << ::testing::PrintToString(text);
  }
}

TEST(Utf8ToWide, RefusesOutputThatDoesNotFit) {
  EXPECT_EQ(decode("abc", 3), L"abc");
  EXPECT_EQ(decode("abcd", 3), L"");
  std::wstring smiley = L"\U0001F600";
  EXPECT_EQ(decode("\xf0\x9f\x98\x80", smiley.size()), smiley);
  EXPECT_EQ(decode("a\xf0\x9f\x98\x80", smiley.size()), L"");
  EXPECT_EQ(decode("", 8), L"");
}

TEST(WideToUtf8, RoundTripsEveryLength) {
  std::wstring text = L"Ren\u00e9e \u20ac\u4e2d \U0001F600 \U0010FFFF x";
  std::string bytes = encode(text);
  EXPECT_EQ(bytes,
            "Ren\xc3\xa9"
            "e \xe2\x82\xac\xe4\xb8\xad \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf x");
  EXPECT_EQ(decode(bytes), text);
  EXPECT_EQ(encode(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(WideToUtf8, ReplacesUnpairedSurrogatesAndRefusesShortOutput) {
  std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(encode(L"a" + lone + L"b"),
            "a\xef\xbf\xbd"
            "b");
  std::wstring low(1, static_cast<wchar_t>(0xDC00));
  EXPECT_EQ(encode(low), "\xef\xbf\xbd");
  EXPECT_EQ(encode(L"\u00e9", 2), "\xc3\xa9");
  EXPECT_EQ(encode(L"\u00e9", 1), "");
  EXPECT_EQ(encode(L"ab\u20ac", 4), "");
}

TEST(TextBuilder, CutsSilentlyAndStaysTerminated) {
  EXPECT_EQ(built(5, [](text_builder* b) { builder_append(b, L"abcdef"); }), L"abcd");
  EXPECT_EQ(built(5,
                  [](text_builder* b) {
                    builder_append(b, L"ab");
                    builder_append(b, L"cdef");
                    builder_append_char(b, L'!');
                    builder_append(b, L"gh");
                  }),
            L"abcd");
  EXPECT_EQ(built(1,
                  [](text_builder* b) {
                    builder_append(b, L"x");
                    builder_append_char(b, L'y');
                  }),
            L"");
  EXPECT_EQ(built(16,
                  [](text_builder* b) {
                    builder_append(b, L"n=");
                    builder_append_uint(b, 7, 4);
                    builder_append_char(b, L' ');
                    builder_append_uint(b, 0, 1);
                    builder_append_char(b, L' ');
                    builder_append_uint(b, 12345, 2);
                  }),
            L"n=0007 0 12345");
  EXPECT_EQ(built(32, [](text_builder* b) { builder_append_uint(b, UINT64_MAX, 1); }), L"18446744073709551615");
  // A number is cut like any other text: its leading digits stay.
  EXPECT_EQ(built(4, [](text_builder* b) { builder_append_uint(b, 987654, 1); }), L"987");
}

TEST(TextBuilder, CopyTextCutsAtCapacityMinusOne) {
  wchar_t buffer[6] = {L'#', L'#', L'#', L'#', L'#', L'#'};
  copy_text(buffer, 5, L"abcdefgh");
  EXPECT_STREQ(buffer, L"abcd");
  EXPECT_EQ(buffer[5], L'#');
  copy_text(buffer, 1, L"abc");
  EXPECT_STREQ(buffer, L"");
  buffer[0] = L'#';
  copy_text(buffer, 0, L"abc");
  EXPECT_EQ(buffer[0], L'#') << "no room, nothing written";
}

TEST(EqualIgnoringCase, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(equal_ignoring_case(L"Client-Integrity.SHA256", L"client-integrity.sha256"));
  EXPECT_TRUE(equal_ignoring_case(L"", L""));
  EXPECT_FALSE(equal_ignoring_case(L"abc", L"abcd"));
  EXPECT_FALSE(equal_ignoring_case(L"abcd", L"abc"));
  EXPECT_FALSE(equal_ignoring_case(L"\u00c9t\u00e9", L"\u00e9t\u00e9"));
  EXPECT_FALSE(equal_ignoring_case(L"[", L"{")) << "only letters differ by 32";
}

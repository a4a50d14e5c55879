// CString: the counted narrow string the whole library passes around.

#include <gtest/gtest.h>
#include <sundry/platform/CString.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(CString, HoldsZeroBytesWhenCounted) {
  CString s("ab\0cd", 5), t("ab\0ce", 5);
  EXPECT_EQ(5, s.GetLength());
  EXPECT_EQ(3, s.Find('c'));
  EXPECT_EQ(std::string("ab\0cdab\0cd", 10), (s + s).str());
  // Counted equality and ordering agree; the C-string view stops at the
  // zero byte, as every char* consumer will.
  EXPECT_NE(s, t);
  EXPECT_TRUE(s < t && t > s && !(t < s));
  EXPECT_STREQ("ab", s);
  EXPECT_EQ(0, s.Compare("ab"));
  // A null pointer is the empty string, never a crash.
  EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
  EXPECT_TRUE(CString(nullptr, 4).IsEmpty());
  EXPECT_EQ("xxx", CString('x', 3));
}

TEST(CString, CharacterAccessStaysInside) {
  CString s("abc");
  EXPECT_EQ('\0', s.GetAt(3));  // the terminator
  EXPECT_DEBUG_DEATH(EXPECT_EQ('\0', s.GetAt(4)), "out of range");
  EXPECT_DEBUG_DEATH(EXPECT_EQ('\0', s[-1]), "out of range");
  s.SetAt(0, 'X');
  EXPECT_DEBUG_DEATH(s.SetAt(3, 'Y'), "out of range");
  EXPECT_DEBUG_DEATH(s.SetAt(-1, 'Y'), "out of range");
  EXPECT_EQ("Xbc", s);
  EXPECT_EQ(3, s.GetLength());
}

TEST(CString, SearchAndExtractionClampToTheString) {
  CString s("abcabc");
  // From a start position; an empty pattern matches where the search starts.
  EXPECT_EQ((std::vector<int>{4, -1, -1, 3, -1, 6, -1, -1, 4, 2}),
            (std::vector<int>{s.Find('b', 2), s.Find('b', 5), s.Find('a', -1), s.Find("abc", 1), s.Find("abc", 4),
                              s.Find("", 6), s.Find("", 7), s.Find(static_cast<const char*>(nullptr)),
                              s.ReverseFind('b'), s.FindOneOf("xc")}));
  // Mid(2, INT_MAX) must not overflow first + count.
  EXPECT_EQ((std::vector<CString>{"", "ab", "", "cabc", "", "abcabc", "ab", "ab"}),
            (std::vector<CString>{s.Mid(100, 2), s.Mid(-3, 2), s.Mid(1, -1), s.Mid(2, 0x7fffffff), s.Left(-1),
                                  s.Right(99), CString("ab12").SpanIncluding("abc"),
                                  CString("ab12").SpanExcluding("0123456789")}));
}

TEST(CString, TokenizeWalksAllTokens) {
  std::string seen;
  for (const char* text : {";;alpha; beta;;gamma;", ";,;", "a, b,c"}) {
    CString s(text);
    int pos = 0;
    for (CString tok = s.Tokenize(";,", pos); pos != -1; tok = s.Tokenize(";,", pos)) seen += "[" + tok.str() + "]";
    seen += "|";
  }
  EXPECT_EQ("[alpha][ beta][gamma]||[a][ b][c]|", seen);
}

TEST(CString, TrimReplaceInsertDelete) {
  // An empty set trims nothing.
  EXPECT_EQ((std::vector<CString>{"a b", "a b \n", "a", "b;a", "", "", " a "}),
            (std::vector<CString>{CString(" \t\r\na b \n").Trim(), CString(" \ta b \n").TrimLeft(),
                                  CString("xxa").TrimLeft('x'), CString(";,b;a,;").Trim(";,"),
                                  CString(";,;").TrimLeft(";,"), CString(";,;").TrimRight(";,"),
                                  CString(" a ").Trim("")}));
  CString t("aaaaa");
  EXPECT_EQ(2, t.Replace("aa", "b"));  // left to right, without overlaps
  EXPECT_EQ("bba", t);
  CString u("x.x");
  EXPECT_EQ(1, u.Replace('.', 'a'));
  EXPECT_EQ(2, u.Replace("x", "xx"));  // the replacement is not searched again
  EXPECT_EQ("xxaxx", u);
  EXPECT_EQ(1, u.Replace("a", nullptr));
  EXPECT_EQ(0, u.Replace("", "y"));
  EXPECT_EQ("xxxx", u);
  EXPECT_EQ(4, u.Remove('x'));
  EXPECT_TRUE(u.IsEmpty());
  // Insert and Delete clamp their positions.
  CString v("ace");
  EXPECT_EQ(4, v.Insert(1, 'b'));
  EXPECT_EQ(6, v.Insert(99, "fg"));
  EXPECT_EQ(4, v.Delete(4, 99));
  EXPECT_EQ(3, v.Delete(-2));
  EXPECT_EQ("bce", v);
}

TEST(CString, CaseFoldingCoversWindows1252) {
  CString s("caf\xE9 \x9A\xFF\xDF\xF7z");
  s.MakeUpper();
  EXPECT_EQ(std::string("CAF\xC9 \x8A\x9F\xDF\xF7Z"), s.str());  // sharp s and division sign have no upper case
  s.MakeLower();
  EXPECT_EQ(std::string("caf\xE9 \x9A\xFF\xDF\xF7z"), s.str());
  EXPECT_EQ(0, CString("CAF\xC9").CompareNoCase("caf\xE9"));
  EXPECT_NE(0, CString("CAF\xC9").Compare("caf\xE9"));
  EXPECT_GT(CString("\xE9").Compare("e"), 0);  // bytes compare unsigned
}

TEST(CString, FormatHandlesLongOutputAndItsOwnText) {
  CString s;
  std::string big(5000, 'q');
  s.Format("<%s|%d>", big.c_str(), 42);
  s.AppendFormat("%05lu", 7ul);
  EXPECT_EQ("<" + big + "|42>00007", s.str());
  // Arguments that point into the string being formatted.
  CString t("abc");
  t.Format("%s-%s", t.GetString(), t.GetString());
  EXPECT_EQ("abc-abc", t);
  for (int i = 0; i < 6; ++i) t.AppendFormat("%s", t.GetString());  // grows past several reallocations
  EXPECT_EQ(7 * 64, t.GetLength());
  EXPECT_EQ(0, t.Find("abc-abcabc-abc"));
  t.Format("%s", "");
  EXPECT_TRUE(t.IsEmpty());
}

TEST(CString, BufferAccess) {
  CString s("hello");
  char* p = s.GetBuffer(20);
  EXPECT_STREQ("hello", p);  // the text is kept
  std::strcpy(p + 5, ", world");
  s.ReleaseBuffer();  // up to the first zero byte
  EXPECT_EQ("hello, world", s);
  p = s.GetBuffer(0);
  p[0] = 'J';
  s.ReleaseBuffer(4);  // an explicit length, zero bytes or not
  EXPECT_EQ("Jell", s);
  p = s.GetBufferSetLength(3);
  p[2] = '\0';
  s.ReleaseBuffer(3);
  EXPECT_EQ(std::string("Je\0", 3), s.str());
  s.ReleaseBuffer(10);  // longer than the buffer: ignored
  EXPECT_EQ(3, s.GetLength());
}

}  // namespace

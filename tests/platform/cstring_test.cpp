// CString: the counted narrow string the whole library passes around.

#include <gtest/gtest.h>
#include <sundry/platform/CString.h>

#include <cstring>
#include <string>

namespace {

std::string Bytes(const CString& s) { return s.str(); }

TEST(CString, HoldsZeroBytesWhenCounted) {
  CString s("ab\0cd", 5);
  EXPECT_EQ(5, s.GetLength());
  EXPECT_EQ(std::string("ab\0cd", 5), Bytes(s));
  EXPECT_EQ(3, s.Find('c'));
  EXPECT_EQ(std::string("ab\0cdab\0cd", 10), Bytes(s + s));
  // Counted equality and ordering agree: "ab\0cd" and "ab\0ce" differ, and
  // exactly one of them is the smaller.
  CString t("ab\0ce", 5);
  EXPECT_NE(s, t);
  EXPECT_TRUE(s < t);
  EXPECT_FALSE(t < s);
  EXPECT_TRUE(t > s);
  // The C-string view stops at the zero byte, as every char* consumer will.
  EXPECT_STREQ("ab", s);
  EXPECT_EQ(0, s.Compare("ab"));
  // A null pointer is the empty string, never a crash.
  EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
  EXPECT_TRUE(CString(nullptr, 4).IsEmpty());
  EXPECT_EQ("xxx", CString('x', 3));
}

TEST(CString, CharacterAccessStaysInside) {
  CString s("abc");
  EXPECT_EQ('c', s.GetAt(2));
  EXPECT_EQ('\0', s.GetAt(3));  // the terminator
  EXPECT_DEBUG_DEATH(EXPECT_EQ('\0', s.GetAt(4)), "out of range");
  EXPECT_DEBUG_DEATH(EXPECT_EQ('\0', s[-1]), "out of range");
  s.SetAt(0, 'X');
  EXPECT_DEBUG_DEATH(s.SetAt(3, 'Y'), "out of range");
  EXPECT_DEBUG_DEATH(s.SetAt(-1, 'Y'), "out of range");
  EXPECT_EQ("Xbc", s);
  EXPECT_EQ(3, s.GetLength());
}

TEST(CString, FindFromAStartPosition) {
  CString s("abcabc");
  EXPECT_EQ(1, s.Find('b'));
  EXPECT_EQ(4, s.Find('b', 2));
  EXPECT_EQ(-1, s.Find('b', 5));
  EXPECT_EQ(-1, s.Find('a', -1));
  EXPECT_EQ(3, s.Find("abc", 1));
  EXPECT_EQ(-1, s.Find("abc", 4));
  EXPECT_EQ(6, s.Find("", 6));  // an empty pattern matches where the search starts
  EXPECT_EQ(-1, s.Find("", 7));
  EXPECT_EQ(-1, s.Find(static_cast<const char*>(nullptr)));
  EXPECT_EQ(4, s.ReverseFind('b'));
  EXPECT_EQ(2, s.FindOneOf("xc"));
}

TEST(CString, ExtractionClampsToTheString) {
  CString s("abcdef");
  EXPECT_EQ("", s.Mid(100, 2));
  EXPECT_EQ("ab", s.Mid(-3, 2));
  EXPECT_EQ("", s.Mid(1, -1));
  EXPECT_EQ("cdef", s.Mid(2, 0x7fffffff));  // no overflow in first + count
  EXPECT_EQ("", s.Left(-1));
  EXPECT_EQ("ef", s.Right(2));
  EXPECT_EQ("abcdef", s.Right(99));
  EXPECT_EQ("ab", CString("ab12").SpanIncluding("abc"));
  EXPECT_EQ("ab", CString("ab12").SpanExcluding("0123456789"));
}

TEST(CString, TokenizeWalksAllTokens) {
  CString s(";;alpha; beta;;gamma;");
  int pos = 0;
  std::string seen;
  for (CString tok = s.Tokenize(";", pos); pos != -1; tok = s.Tokenize(";", pos)) seen += "[" + tok.str() + "]";
  EXPECT_EQ("[alpha][ beta][gamma]", seen);
  // Several delimiter characters; the last token runs to the end.
  CString t("a, b,c");
  pos = 0;
  EXPECT_EQ("a", t.Tokenize(", ", pos));
  EXPECT_EQ("b", t.Tokenize(", ", pos));
  EXPECT_EQ("c", t.Tokenize(", ", pos));
  EXPECT_NE(-1, pos);
  EXPECT_EQ("", t.Tokenize(", ", pos));
  EXPECT_EQ(-1, pos);
  pos = 0;  // nothing but delimiters
  EXPECT_EQ("", CString(";;;").Tokenize(";", pos));
  EXPECT_EQ(-1, pos);
}

TEST(CString, TrimWithCharacterSets) {
  EXPECT_EQ("a b", CString(" \t\r\na b \n").Trim());
  EXPECT_EQ("a b \n", CString(" \ta b \n").TrimLeft());
  EXPECT_EQ("a", CString("xxa").TrimLeft('x'));
  EXPECT_EQ("b;a", CString(";,b;a,;").Trim(";,"));
  EXPECT_EQ("", CString(";,;").TrimLeft(";,"));
  EXPECT_EQ("", CString(";,;").TrimRight(";,"));
  EXPECT_EQ(" a ", CString(" a ").Trim(""));  // an empty set trims nothing
}

TEST(CString, ReplaceCountsAndNeverRescans) {
  CString s("a.b.c");
  EXPECT_EQ(2, s.Replace('.', '/'));
  EXPECT_EQ("a/b/c", s);
  CString t("aaaaa");
  EXPECT_EQ(2, t.Replace("aa", "b"));  // left to right, without overlaps
  EXPECT_EQ("bba", t);
  CString u("xax");
  EXPECT_EQ(2, u.Replace("x", "xx"));  // the replacement is not searched again
  EXPECT_EQ("xxaxx", u);
  EXPECT_EQ(1, u.Replace("a", nullptr));
  EXPECT_EQ("xxxx", u);
  EXPECT_EQ(0, u.Replace("", "y"));
  EXPECT_EQ(0, u.Replace("q", "y"));
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
  EXPECT_EQ(std::string("CAF\xC9 \x8A\x9F\xDF\xF7Z"), Bytes(s));  // sharp s and division sign have no upper case
  s.MakeLower();
  EXPECT_EQ(std::string("caf\xE9 \x9A\xFF\xDF\xF7z"), Bytes(s));
  EXPECT_EQ(0, CString("CAF\xC9").CompareNoCase("caf\xE9"));
  EXPECT_NE(0, CString("CAF\xC9").Compare("caf\xE9"));
  EXPECT_GT(CString("\xE9").Compare("e"), 0);  // bytes compare unsigned
}

TEST(CString, FormatHandlesLongOutputAndItsOwnText) {
  CString s;
  std::string big(5000, 'q');
  s.Format("<%s|%d>", big.c_str(), 42);
  EXPECT_EQ("<" + big + "|42>", Bytes(s));
  s.AppendFormat("%05lu", 7ul);
  EXPECT_EQ(5000 + 5 + 5, s.GetLength());
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
  EXPECT_EQ(12, s.GetLength());

  p = s.GetBuffer(0);
  p[0] = 'J';
  s.ReleaseBuffer(4);  // an explicit length, zero bytes or not
  EXPECT_EQ("Jell", s);

  p = s.GetBufferSetLength(3);
  p[2] = '\0';
  s.ReleaseBuffer(3);
  EXPECT_EQ(3, s.GetLength());
  EXPECT_EQ(std::string("Je\0", 3), Bytes(s));
  s.ReleaseBuffer(10);  // longer than the buffer: ignored
  EXPECT_EQ(3, s.GetLength());
}

}  // namespace

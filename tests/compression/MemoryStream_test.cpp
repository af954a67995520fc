#include "compression/MemoryStream.h"

#include <string>

#include "TestSupport.h"

namespace {

std::string Bytes(const TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

TEST(MemoryStream, ReadWriteSeek) {
  TMemoryStream s;
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Write("hello", 5), 5);
  EXPECT_EQ(s.Position(), 5);
  // Writing past the end leaves a gap of zeros.
  s.Seek(3, TSeekOrigin::soCurrent);
  s.Write("!", 1);
  EXPECT_EQ(Bytes(s), std::string("hello\0\0\0!", 9));
  // A negative position is refused.
  EXPECT_EQ(s.Seek(-100, TSeekOrigin::soCurrent), 9);
  EXPECT_EQ(s.Seek(-4, TSeekOrigin::soEnd), 5);
  char buf[16];
  EXPECT_EQ(s.Read(buf, 16), 4);
  EXPECT_EQ(s.Read(buf, 16), 0);
  s.SetPosition(100);
  EXPECT_EQ(s.Read(buf, 1), 0);
}

TEST(MemoryStream, SetSizeKeepsDataAndZerosTheRest) {
  TMemoryStream s;
  s.Write("abcdef", 6);
  s.SetSize(2);
  EXPECT_EQ(Bytes(s), "ab");
  s.SetSize(5);
  EXPECT_EQ(Bytes(s), std::string("ab\0\0\0", 5));
  s.SetSize(1 << 20);
  EXPECT_EQ(static_cast<const char*>(s.Memory())[(1 << 20) - 1], '\0');
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

}  // namespace

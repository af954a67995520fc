#include "rtl/MemoryStream.h"

#include <string>

#include "TestSupport.h"

namespace {

std::string Bytes(const TMemoryStream& s) {
  if (s.Size() == 0) return {};
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
  // Down to nothing and up again.
  s.Write("xyz", 3);
  s.SetSize(0);
  EXPECT_EQ(s.Size(), 0);
  s.SetSize(2);
  EXPECT_EQ(Bytes(s), std::string("\0\0", 2));
}

// A view reads the memory in place; every change goes to a private copy and the viewed bytes
// stay as they were.
TEST(MemoryStream, AViewIsReadInPlaceAndCopiedOnChange) {
  const std::string viewed = "container bytes";
  struct Change {
    const char* Name;
    void (*Apply)(TMemoryStream&);
    std::string Expected;
  };
  const Change changes[] = {
      {"write inside", [](TMemoryStream& s) { s.SetPosition(0); s.Write("C", 1); }, "Container bytes"},
      {"write past the end", [](TMemoryStream& s) { s.SetPosition(17); s.Write("!", 1); },
       std::string("container bytes\0\0!", 18)},
      {"shrink", [](TMemoryStream& s) { s.SetSize(9); }, "container"},
      {"same size", [](TMemoryStream& s) { s.SetSize(15); }, "container bytes"},
      {"clear", [](TMemoryStream& s) { s.Clear(); }, ""},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s;
    s.Write("an owned block", 14);
    s.SetPointer(viewed.data(), static_cast<std::int64_t>(viewed.size()));
    EXPECT_FALSE(s.OwnsMemory());
    EXPECT_EQ(s.Memory(), viewed.data());
    EXPECT_EQ(s.Position(), 0);
    char head[9];
    ASSERT_EQ(s.Read(head, 9), 9);
    EXPECT_EQ(std::string(head, 9), "container");
    c.Apply(s);
    EXPECT_TRUE(s.OwnsMemory());
    EXPECT_NE(s.Memory(), viewed.data());
    EXPECT_EQ(Bytes(s), c.Expected);
    EXPECT_EQ(viewed, "container bytes");
  }
}

}  // namespace

#include "text/bytes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/common/test_folder.h"

namespace pelmora::text {
namespace {

namespace fs = std::filesystem;

Bytes B(std::string_view bytes) { return Bytes(bytes); }

TEST(BytesCutting, ClampsLikeThePrimitivesPromise) {
  struct Case {
    const char* label;
    Bytes actual;
    Bytes expected;
  };
  const Bytes b123 = B(std::string_view("\x01\x02\x03", 3));
  const Bytes b1234 = B(std::string_view("\x01\x02\x03\x04", 4));
  const std::vector<Case> cases = {
      {"left beyond the length", BytesLeft(b123, 5), b123},
      {"left negative", BytesLeft(b123, -1), Bytes()},
      {"left zero", BytesLeft(b123, 0), Bytes()},
      {"mid from 0 means the first byte", BytesMid(b1234, 0, 2),
       B(std::string_view("\x01\x02", 2))},
      {"mid from a negative start", BytesMid(b1234, -9, 1), B(std::string_view("\x01", 1))},
      {"mid from the smallest start", BytesMid(b1234, INT_MIN, 1), B(std::string_view("\x01", 1))},
      {"mid past the end is cut", BytesMid(b1234, 4, 5), B(std::string_view("\x04", 1))},
      {"mid starting beyond the end", BytesMid(b1234, 6, 1), Bytes()},
      {"mid huge count", BytesMid(b1234, 2, INT_MAX), B(std::string_view("\x02\x03\x04", 3))},
      {"mid negative count", BytesMid(b1234, 1, -1), Bytes()},
      {"blank bytes", BlankBytes(4), B(std::string_view("\0\0\0\0", 4))},
      {"blank bytes of a negative count", BlankBytes(-2), Bytes()},
      {"zero bytes survive concatenation",
       ConcatBytes(B(std::string_view("\0", 1)), Bytes(), B("a")), B(std::string_view("\0a", 2))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.actual, c.expected);
  }
  EXPECT_EQ(BlankText(5), Text("     "));
  EXPECT_EQ(BlankText(0), Text());
  EXPECT_EQ(BytesLength(B(std::string_view("a\0b", 3))), 3);
}

TEST(BytesConversions, TextEndsAtTheFirstZeroByte) {
  EXPECT_EQ(ToText(B(std::string_view("ab\0c", 4))), Text("ab"));
  EXPECT_EQ(ToText(B(std::string_view("\0a", 2))), Text());
  EXPECT_EQ(ToText(Bytes()), Text());
  EXPECT_EQ(TextToBytes("abc").str(), std::string("abc"));  // no terminator
  EXPECT_TRUE(TextToBytes("").empty());

  EXPECT_TRUE(CompareBytes(Bytes(), Bytes()));
  EXPECT_FALSE(CompareBytes(B("\x01"), B(std::string_view("\x01\0", 2))));
  EXPECT_TRUE(CompareBytes(B(std::string_view("\0\x02", 2)), B(std::string_view("\0\x02", 2))));
}

TEST(BytesToInt, LittleEndianWithMissingBytesZero) {
  EXPECT_EQ(BytesToInt(B("\x78\x56\x34\x12")), 0x12345678);
  EXPECT_EQ(BytesToInt(B("\x01")), 1);
  EXPECT_EQ(BytesToInt(Bytes()), 0);
  EXPECT_EQ(BytesToInt(B("\xff\xff\xff\xff\x05")), -1);
  EXPECT_EQ(BitOr(0x80000000U, 0x100U), 0x80000100U);
}

using pelmora::testing::ReadAll;

class FileTest : public ::testing::Test {
 protected:
  pelmora::testing::TestFolder m_folder;
  const fs::path m_dir = m_folder.path();
};

TEST_F(FileTest, ReadGivesEmptyForWhatIsNotAReadableFile) {
  EXPECT_TRUE(ReadFileBytes(m_dir / "missing.txt").empty());
  EXPECT_TRUE(ReadFileBytes(m_dir).empty());
  EXPECT_TRUE(ReadFileBytes(fs::path()).empty());
  EXPECT_TRUE(ReadFileBytes(m_dir / "no-folder" / "x.txt").empty());
}

TEST_F(FileTest, WriteThenReadKeepsEveryByte) {
  const Bytes content(std::string_view("\xd6\xd0\0\r\n\xff", 6));
  const fs::path path = m_dir / "CK.TXT";
  EXPECT_TRUE(WriteFileBytes(path, content));
  EXPECT_EQ(ReadFileBytes(path), content);
}

TEST_F(FileTest, OverwritingWithShorterContentLeavesOnlyTheNewBytes) {
  const fs::path path = m_dir / "long.bin";
  ASSERT_TRUE(WriteFileBytes(path, Bytes("a much longer first content")));
  EXPECT_TRUE(WriteFileBytes(path, Bytes("short")));
  EXPECT_EQ(ReadAll(path), "short");
  EXPECT_TRUE(WriteFileBytes(path, Bytes()));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0U);
  EXPECT_TRUE(ReadFileBytes(path).empty());
}

TEST_F(FileTest, WriteFailsWithoutCreatingFolders) {
  EXPECT_FALSE(WriteFileBytes(m_dir / "missing" / "1.jpg", Bytes("x")));
  EXPECT_FALSE(fs::exists(m_dir / "missing"));
  EXPECT_FALSE(WriteFileBytes(fs::path(), Bytes("x")));
  EXPECT_FALSE(WriteFileBytes(m_dir, Bytes("x")));  // a folder is not a file
}

TEST_F(FileTest, ASecondWriterFailsWithoutSpoilingTheFirst) {
  const fs::path path = m_dir / "1.jpg";
  ASSERT_TRUE(WriteFileBytes(path, Bytes("first")));
  const int holder = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another writer has the file open
  EXPECT_FALSE(WriteFileBytes(path, Bytes("second")));
  EXPECT_TRUE(ReadFileBytes(path).empty());  // readers may not share with a writer
  ::close(holder);
  EXPECT_EQ(ReadAll(path), "first");
}

TEST_F(FileTest, AFifoIsRefusedWithoutBlocking) {
  const fs::path path = m_dir / "fifo";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_TRUE(ReadFileBytes(path).empty());
  EXPECT_FALSE(WriteFileBytes(path, Bytes("x")));
}

TEST_F(FileTest, NativePathsReachFoldersThatGbkCannotSpell) {
  const fs::path folder = m_dir / "\xe0\xb8\x81\xf0\x9f\x98\x80";  // Thai ko kai and an emoji
  ASSERT_TRUE(fs::create_directory(folder));
  EXPECT_TRUE(WriteFileBytes(folder / "a.txt", Bytes("ok")));
  EXPECT_EQ(ReadFileBytes(folder / "a.txt"), Bytes("ok"));
}

TEST(RunDirectory, IsTheFolderOfThisExecutable) {
  const fs::path dir = RunDirectory();
  EXPECT_TRUE(dir.is_absolute());
  EXPECT_FALSE(dir.filename().empty());  // no trailing separator
  EXPECT_TRUE(fs::is_regular_file(dir / "text_tests"));
}

// Runs `body` on a thread of its own, whose generator has never been seeded.
template <typename Body>
void OnFreshThread(Body body) {
  std::thread(body).join();
}

TEST(RandomNumber, AnUnseededThreadStartsFromStateOne) {
  OnFreshThread([] {
    std::vector<int> draws;
    draws.reserve(5);
    for (int i = 0; i < 5; ++i) {
      draws.push_back(RandomNumber(0, 32767));
    }
    EXPECT_EQ(draws, (std::vector<int>{41, 18467, 6334, 26500, 19169}));
  });
  OnFreshThread([] { EXPECT_EQ(RandomNumber(0, 1000), 41); });
  OnFreshThread([] {
    EXPECT_EQ(RandomNumber(5, 5), 5);
    EXPECT_EQ(RandomNumber(-3, -8), 0);
    EXPECT_EQ(RandomNumber(0, 1000), 41);  // equal bounds did not draw
  });
  OnFreshThread([] { EXPECT_EQ(RandomNumber(0, INT_MAX), 41); });  // the span does not overflow
  OnFreshThread([] { EXPECT_EQ(RandomNumber(INT_MAX, 1), 42); });
}

TEST(RandomNumber, StaysWithinTheBoundsInEitherOrder) {
  struct Case {
    const char* label;
    int low, high, min, max;
  };
  const std::vector<Case> cases = {
      {"page scan bounds", 0, 1000, 0, 1000},
      {"reversed bounds", 10, 3, 3, 10},
      {"negative low counts as 0", -4, 2, 0, 2},
      {"two values", 7, 8, 7, 8},
  };
  OnFreshThread([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.label);
      bool sawMin = false;
      bool sawMax = false;
      for (int i = 0; i < 2000; ++i) {
        const int r = RandomNumber(c.low, c.high);
        ASSERT_GE(r, c.min);
        ASSERT_LE(r, c.max);
        sawMin = sawMin || r == c.min;
        sawMax = sawMax || r == c.max;
      }
      EXPECT_TRUE(sawMin && sawMax);
    }
  });
}

// Recovers the state a seed left behind from three draws: each draw shows 15
// bits of the next state, so 2^17 candidates for the first state remain, and
// the next two draws single one out.
std::uint32_t RecoverSeededState() {
  const auto next = [](std::uint32_t s) { return s * 214013U + 2531011U; };
  const auto shown = [](std::uint32_t s) { return static_cast<int>((s >> 16) & 0x7FFFU); };
  const int r1 = RandomNumber(0, 32767);
  const int r2 = RandomNumber(0, 32767);
  const int r3 = RandomNumber(0, 32767);
  std::uint32_t inverse = 214013U;  // multiplicative inverse modulo 2^32, by Newton's method
  for (int i = 0; i < 5; ++i) {
    inverse *= 2U - 214013U * inverse;
  }
  for (std::uint32_t top = 0; top < 2; ++top) {
    for (std::uint32_t low = 0; low < 65536U; ++low) {
      const std::uint32_t s1 = (top << 31) | (static_cast<std::uint32_t>(r1) << 16) | low;
      if (shown(next(s1)) == r2 && shown(next(next(s1))) == r3) {
        return (s1 - 2531011U) * inverse;
      }
    }
  }
  ADD_FAILURE() << "no state explains the draws";
  return 0;
}

std::uint32_t g_fakeTick = 0;

TEST(SeedRandom, SeedsFromTheTickAndTheSharedCounter) {
  platform::SetTickSourceForTesting([] { return g_fakeTick; });
  g_fakeTick = 5000;
  SeedRandom();
  const std::uint32_t first = RecoverSeededState();
  // The same millisecond again: the counter moved on by (seed mod 256) + 100.
  SeedRandom();
  const std::uint32_t second = RecoverSeededState();
  EXPECT_EQ(second, first + (first % 256U) + 100U);
  // A later tick adds to the counter as it now stands.
  g_fakeTick = 0xFFFFFFF0U;
  SeedRandom();
  const std::uint32_t third = RecoverSeededState();
  EXPECT_EQ(third, second - 5000U + (second % 256U) + 100U + 0xFFFFFFF0U);
  // Seeding is per thread: another thread still starts from state 1.
  OnFreshThread([] { EXPECT_EQ(RandomNumber(0, 1000), 41); });
  platform::SetTickSourceForTesting(nullptr);
}

}  // namespace
}  // namespace pelmora::text

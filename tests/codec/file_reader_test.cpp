#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "codec/file_reader.h"
#include "test_util.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string RandomText(size_t n) {
  std::mt19937 gen(5);
  std::string s(n, '\0');
  for (char& c : s) c = char(gen());
  return s;
}

// Reads the file with ReadFileChunks, collecting what it hands on.
struct Collect {
  std::string bytes;
  int pieces = 0;
  int asked = 0;
  int askLimit = -1;  // keepGoing says no after this many questions
  FileReadEnd read(FileReader& file, uint64_t limit = kNoFileLimit) {
    return ReadFileChunks(
        file, limit,
        [this](const uint8_t* data, size_t size) {
          bytes.append(reinterpret_cast<const char*>(data), size);
          ++pieces;
          return true;
        },
        [this](uint64_t) { return askLimit < 0 || ++asked <= askLimit; });
  }
};

// A named pipe the test holds open for writing (read-write, so opening never blocks).
struct Fifo {
  TempDir dir;
  std::string path = dir.file("fifo");
  int writer = -1;
  Fifo() {
    mkfifo(path.c_str(), 0600);
    writer = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  ~Fifo() {
    if (writer >= 0) close(writer);
  }
  void write(const std::string& s) const {
    ASSERT_EQ(::write(writer, s.data(), s.size()), ssize_t(s.size()));
  }
};

}  // namespace

TEST(FileReader, ReadsAPlainFileWholeInPieces) {
  TempDir dir;
  const std::string content = RandomText(kFileChunkBytes * 2 + 1234);
  WriteFile(dir.file("f"), content);
  FileReader file;
  ASSERT_TRUE(file.open(dir.file("f")));
  EXPECT_TRUE(file.sized());
  EXPECT_EQ(file.size(), content.size());
  Collect c;
  EXPECT_EQ(c.read(file), FileReadEnd::Complete);
  EXPECT_EQ(c.bytes, content);
  EXPECT_EQ(c.pieces, 3);
}

TEST(FileReader, RefusesMissingFilesAndDirectories) {
  TempDir dir;
  FileReader file;
  EXPECT_FALSE(file.open(dir.file("missing")));
  EXPECT_FALSE(file.open(dir.path()));
  EXPECT_FALSE(file.open(""));
}

TEST(FileReader, EmptyAndPseudoFilesAreReadToTheirEnd) {
  TempDir dir;
  WriteFile(dir.file("empty"), "");
  FileReader empty;
  ASSERT_TRUE(empty.open(dir.file("empty")));
  Collect c;
  EXPECT_EQ(c.read(empty), FileReadEnd::Complete);
  EXPECT_EQ(c.bytes, "");

  // The kernel reports a size of 0 for this file, yet it has content.
  FileReader status;
  ASSERT_TRUE(status.open("/proc/self/status"));
  EXPECT_FALSE(status.sized());
  Collect s;
  EXPECT_EQ(s.read(status), FileReadEnd::Complete);
  EXPECT_NE(s.bytes.find("Pid:"), std::string::npos);
}

TEST(FileReader, LimitRefusesLargerFiles) {
  TempDir dir;
  WriteFile(dir.file("f"), std::string(1000, 'x'));
  FileReader atLimit;
  ASSERT_TRUE(atLimit.open(dir.file("f")));
  Collect a;
  EXPECT_EQ(a.read(atLimit, 1000), FileReadEnd::Complete);
  EXPECT_EQ(a.bytes.size(), 1000u);

  FileReader over;
  ASSERT_TRUE(over.open(dir.file("f")));
  Collect o;
  EXPECT_EQ(o.read(over, 999), FileReadEnd::TooLarge);
  EXPECT_EQ(o.pieces, 0);  // refused before reading

  Fifo fifo;
  FileReader stream;
  ASSERT_TRUE(stream.open(fifo.path));
  fifo.write(std::string(1001, 'y'));
  close(fifo.writer);
  fifo.writer = -1;
  Collect s;
  EXPECT_EQ(s.read(stream, 1000), FileReadEnd::TooLarge);
}

TEST(FileReader, AFileThatShrinksIsAShortReadAndOneThatGrowsIsReadAtItsOldSize) {
  TempDir dir;
  WriteFile(dir.file("f"), std::string(5000, 'x'));
  FileReader shrunk;
  ASSERT_TRUE(shrunk.open(dir.file("f")));
  ASSERT_EQ(truncate(dir.file("f").c_str(), 100), 0);
  Collect s;
  EXPECT_EQ(s.read(shrunk), FileReadEnd::ShortRead);

  FileReader grown;
  ASSERT_TRUE(grown.open(dir.file("f")));
  std::ofstream(dir.file("f"), std::ios::app) << "more";
  Collect g;
  EXPECT_EQ(g.read(grown), FileReadEnd::Complete);
  EXPECT_EQ(g.bytes, std::string(100, 'x'));
}

TEST(FileReader, PipesAreReadUntilTheirWriterCloses) {
  Fifo noWriter;
  close(noWriter.writer);
  noWriter.writer = -1;
  FileReader idle;
  ASSERT_TRUE(idle.open(noWriter.path));  // does not wait for a writer
  Collect i;
  EXPECT_EQ(i.read(idle), FileReadEnd::Complete);
  EXPECT_EQ(i.bytes, "");

  Fifo fifo;
  FileReader stream;
  ASSERT_TRUE(stream.open(fifo.path));
  fifo.write("hello");
  Collect c;
  c.askLimit = 3;  // the writer stays: the reader waits, asks, and is told to stop
  EXPECT_EQ(c.read(stream), FileReadEnd::Cancelled);
  EXPECT_EQ(c.bytes, "hello");
  EXPECT_EQ(c.asked, 4);
}

TEST(FileReader, ConsumerCanStopTheRead) {
  TempDir dir;
  WriteFile(dir.file("f"), std::string(kFileChunkBytes * 3, 'x'));
  FileReader file;
  ASSERT_TRUE(file.open(dir.file("f")));
  int pieces = 0;
  const FileReadEnd end = ReadFileChunks(
      file, kNoFileLimit, [&](const uint8_t*, size_t) { return ++pieces < 2; },
      [](uint64_t) { return true; });
  EXPECT_EQ(end, FileReadEnd::Cancelled);
  EXPECT_EQ(pieces, 2);
}

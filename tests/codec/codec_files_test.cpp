#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>

#include "codec/file_progress.h"
#include "codec/file_reader.h"
#include "codec_test_util.h"
#include "test_util.h"

// Allocations of at least this many bytes fail while it is not 0. The replaceable allocation
// functions of the whole test program, so that running out of memory can be tested.
static std::atomic<size_t> g_failAllocationsFrom{0};

void* operator new(size_t size) {
  const size_t from = g_failAllocationsFrom.load(std::memory_order_relaxed);
  if (from != 0 && size >= from) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return ::operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

// Files are chosen by path, without the dialog; the titles asked for are kept.
struct CodecFilesTest : CodecPaneFixture {
  TempDir dir;
  std::vector<std::string> titles;

  void choose(const std::string& path) {
    SetOpenFileChooser([this, path](QWidget*, const QString& title) {
      titles.push_back(title.toStdString());
      return QString::fromStdString(path);
    });
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.file(name), std::ios::binary) << bytes;
    return dir.file(name);
  }
  void encodeFile(const std::string& path) {
    choose(path);
    click(kEncodeFileButtonId);
  }
};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(gen());
  return s;
}

std::string WithoutLineEnds(std::string s) {
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }),
          s.end());
  return s;
}

// Watches for the progress dialog; once it shows, `act` runs on it (for example a click on
// Cancel). Should it never show, the pane's work is ended after 10 s so the test cannot hang.
class ProgressWatch {
 public:
  ProgressWatch(ModulePane* pane, std::function<void(QProgressDialog*)> act) {
    QObject::connect(&timer_, &QTimer::timeout, [this, pane, act] {
      auto* dialog = pane->findChild<QProgressDialog*>(QString::fromLatin1(kFileProgressName));
      if (dialog != nullptr && dialog->isVisible()) {
        shown = true;
        timer_.stop();
        act(dialog);
      } else if (++ticks_ > 500) {
        timer_.stop();
        pane->closeModule();
      }
    });
    timer_.start(20);
  }
  bool shown = false;

 private:
  QTimer timer_;
  int ticks_ = 0;
};

void ClickCancel(QProgressDialog* dialog) {
  auto* cancel = dialog->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(cancel->text(), "Cancel");
  cancel->click();
}

}  // namespace

TEST_F(CodecFilesTest, BothModesAskWithTheSameTitleAndACancelDoesNothing) {
  setText("keep");
  SetOpenFileChooser([this](QWidget* owner, const QString& title) {
    titles.push_back(title.toStdString());
    EXPECT_EQ(owner, pane);
    return QString();
  });
  click(kEncodeFileButtonId);
  md5Mode();
  click(kEncodeFileButtonId);
  EXPECT_EQ(titles, std::vector<std::string>(2, "Open File To Base64 Encode :"));
  EXPECT_EQ(text(), "keep");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecFilesTest, FilesThatCannotBeOpened) {
  setText("keep");
  encodeFile(dir.file("missing"));
  encodeFile(dir.path());  // a directory
  md5Mode();
  encodeFile(dir.file("missing"));
  EXPECT_EQ(boxes.texts(), std::vector<std::string>(3, "Failed To Open File!"));
  EXPECT_EQ(text(), "keep");
}

TEST_F(CodecFilesTest, A49ByteFileEncodesToTwoLines) {
  const std::string bytes = RandomBytes(49, 1);
  encodeFile(write("f49", bytes));
  const std::string t = text();
  ASSERT_EQ(t.size(), 64u + 2 + 4 + 2);
  EXPECT_EQ(t.substr(64, 2), "\r\n");
  EXPECT_EQ(t.substr(70), "\r\n");
  EXPECT_EQ(t.find_first_of("\r\n"), 64u);
  EXPECT_EQ(t.substr(66, 2).find_first_of("\r\n"), std::string::npos);
}

TEST_F(CodecFilesTest, Md5OfFiles) {
  md5Mode();
  encodeFile(write("abc", "abc"));
  EXPECT_EQ(text(), "900150983cd24fb0d6963f7d28e17f72");
  encodeFile(write("empty", ""));
  EXPECT_EQ(text(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(titles.size(), 2u);
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecFilesTest, AnEmptyFileHasNothingToEncode) {
  setText("keep");
  encodeFile(write("empty", ""));
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Nothing to do!"});
  EXPECT_EQ(text(), "keep");
}

TEST_F(CodecFilesTest, EncodingRefusesFilesOverTheLimit) {
  setText("keep");
  const std::string big = dir.file("big");
  ASSERT_EQ(truncate(write("big", "").c_str(), off_t(kEncodeFileLimit) + 1), 0);
  encodeFile(big);
  // A device with no end passes the limit while it is read.
  encodeFile("/dev/zero");
  EXPECT_EQ(boxes.texts(), std::vector<std::string>(2, "File Too Large To Encode (Limit 16 MiB)!"));
  EXPECT_EQ(text(), "keep");
  // Hashing has no limit.
  md5Mode();
  encodeFile(big);
  EXPECT_EQ(text(), "cbcda39ca2893010c1d15c51bc633b24");  // 16 MiB + 1 zero bytes
}

TEST_F(CodecFilesTest, AgreesWithTheSystemTools) {
  for (size_t size : {size_t(0), size_t(1), size_t(57), size_t(64 * 1024), size_t(5 << 20)}) {
    SCOPED_TRACE(size);
    const std::string path = write("r" + std::to_string(size), RandomBytes(size, unsigned(size)));
    click(kMd5RadioId);
    encodeFile(path);
    EXPECT_EQ(text(), RunCommand("md5sum < '" + path + "'").substr(0, 32));

    click(kBase64RadioId);
    setText("before");
    boxes.clear();
    encodeFile(path);
    if (size == 0) {
      EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Nothing to do!"});
      continue;
    }
    const std::string t = text();
    EXPECT_EQ(WithoutLineEnds(t), WithoutLineEnds(RunCommand("base64 -w 64 '" + path + "'")));
    EXPECT_EQ(t.size(), (size + 2) / 3 * 4 + (size + 47) / 48 * 2);  // every line ends in CR LF
    EXPECT_EQ(boxes.count(), 0u);
  }
}

TEST_F(CodecFilesTest, ALongHashShowsProgressAndCancelLeavesThePane) {
  setText("keep");
  md5Mode();
  ProgressWatch watch(pane, ClickCancel);
  encodeFile("/dev/zero");  // never ends
  EXPECT_TRUE(watch.shown);
  EXPECT_EQ(text(), "keep");
  EXPECT_EQ(boxes.count(), 0u);
  auto* dialog = pane->findChild<QProgressDialog*>(QString::fromLatin1(kFileProgressName));
  EXPECT_EQ(dialog, nullptr);  // gone with the command
}

// A pipe the test writes into (held open read-write, so opening it never waits).
struct Fifo {
  std::string path;
  int writer = -1;
  explicit Fifo(std::string p) : path(std::move(p)) {
    mkfifo(path.c_str(), 0600);
    writer = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  ~Fifo() { closeWriter(); }
  void closeWriter() {
    if (writer >= 0) close(writer);
    writer = -1;
  }
};

TEST_F(CodecFilesTest, APipeIsReadUntilItsWriterCloses) {
  Fifo fifo(dir.file("fifo"));
  ASSERT_EQ(::write(fifo.writer, "abc", 3), 3);
  ProgressWatch watch(pane, [&](QProgressDialog*) { fifo.closeWriter(); });
  md5Mode();
  encodeFile(fifo.path);
  EXPECT_TRUE(watch.shown);  // it waited for more
  EXPECT_EQ(text(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(CodecFilesTest, ClosingTheModuleEndsAWaitingRead) {
  setText("keep");
  Fifo fifo(dir.file("fifo"));
  QTimer::singleShot(100, pane, [this] { pane->closeModule(); });
  encodeFile(fifo.path);  // nothing ever arrives
  EXPECT_EQ(text(), "keep");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecFilesTest, AReadThatRunsOutOfMemoryLeavesNoProgressBehind) {
  const std::string path = write("small", "abc");
  SetOpenFileChooser([&](QWidget*, const QString&) {
    g_failAllocationsFrom = kFileChunkBytes;  // the reader's buffer is the first this large
    return QString::fromStdString(path);
  });
  click(kEncodeFileButtonId);
  g_failAllocationsFrom = 0;
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Memory Allocation Error!"});
  EXPECT_FALSE(static_cast<CodecPane*>(pane)->readingFile());
  pane->closeModule();  // finds no read to cancel
  encodeFile(path);
  EXPECT_EQ(text(), "YWJj\r\n");
}

// SPDX-License-Identifier: MIT
// The tool's pieces on their own: CSV quoting, shortest floats, UTF-8 repair, the order of the
// walk, and thumbnail names that would lead outside their folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_walk.h"
#include "pipeline.h"
#include "records.h"
#include "thumbnails.h"

namespace {

namespace fs = std::filesystem;
using exifinfo_tool::CsvField;
using exifinfo_tool::Utf8OrReplacement;

TEST(Csv, FieldsAreQuotedAsRfc4180Says) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain", "plain"},           {"", ""},
      {"a,b", "\"a,b\""},           {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""}, {"lf\nonly", "\"lf\nonly\""},
      {" padded", "\" padded\""},   {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;
}

TEST(Utf8, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8OrReplacement("caf\xC3\xA9"), "caf\xC3\xA9");        // well-formed stays
  EXPECT_EQ(Utf8OrReplacement("caf\xE9.jpg"), "caf\xEF\xBF\xBD.jpg");  // Latin-1 byte
  EXPECT_EQ(Utf8OrReplacement("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
  EXPECT_EQ(Utf8OrReplacement("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(Utf8OrReplacement("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // cut short at the end
  EXPECT_EQ(Utf8OrReplacement("\xF0\x9F\x93\xB7"), "\xF0\x9F\x93\xB7");  // four bytes
}

class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/exifinfo_units_XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~TempTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  void File(const std::string& relative) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream(Path(relative)) << "x";
  }

 private:
  std::string root_;
};

TEST(Walk, DepthFirstInByteOrderWithoutFollowingDirectoryLinksOrOpeningDevices) {
  TempTree tree;
  for (const char* f : {"b/2.jpg", "a/1.jpg", "a.jpg", "B.jpg", "a/z/3.jpg", "c.jpg"}) tree.File(f);
  fs::create_directory_symlink("/", tree.Path("root-link"));
  fs::create_directory_symlink(tree.Path("a"), tree.Path("loop"));
  ASSERT_EQ(mkfifo(tree.Path("fifo.jpg").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", tree.Path("zero.jpg"));
  fs::create_symlink(tree.Path("a.jpg"), tree.Path("photo-link.jpg"));
  exifinfo_tool::FileWalk walk({tree.Path(""), tree.Path("c.jpg")}, true);
  std::vector<std::string> relative;
  for (exifinfo_tool::WalkedFile f; walk.Next(f);) {
    relative.push_back(f.relative + (f.walked ? "" : " (operand)") + (f.note.empty() ? "" : " [" + f.note + "]"));
    EXPECT_NE(f.kind, exifinfo_tool::WalkedFile::Kind::kUnreadableDirectory);
  }
  const std::vector<std::string> expected = {"B.jpg",  "a/1.jpg",          "a/z/3.jpg", "a.jpg", "b/2.jpg",
                                             "c.jpg",  "fifo.jpg [a FIFO]", "loop",     "photo-link.jpg",
                                             "root-link", "zero.jpg [a device]", "c.jpg (operand)"};
  EXPECT_EQ(relative, expected);  // links to directories are listed as files; the reader finds them so
}

// Sidecars pair with the photo beside them by name, whatever the case: NAME.EXT.xmp before
// NAME.xmp; a paired sidecar is no file of its own, an unpaired one is; a folder pairs with none.
TEST(Walk, SidecarsPairWithThePhotoBesideThem) {
  TempTree tree;
  for (const char* f : {"IMG_1.CR2", "IMG_1.JPG", "img_1.xmp", "IMG_2.jpg", "IMG_2.jpg.XMP", "IMG_2.xmp", "lonely.xmp",
                        "noext", "noext.xmp", ".xmp", "dir.xmp/inside.jpg", "dir/x.jpg"})
    tree.File(f);
  exifinfo_tool::FileWalk walk({tree.Path("")}, true);
  std::vector<std::string> seen;
  for (exifinfo_tool::WalkedFile f; walk.Next(f);)
    seen.push_back(f.relative + (f.sidecar.empty() ? "" : " + " + f.sidecar.substr(tree.Path("").size())));
  const std::vector<std::string> expected = {".xmp", "IMG_1.CR2 + img_1.xmp", "IMG_1.JPG + img_1.xmp",
                                             "IMG_2.jpg + IMG_2.jpg.XMP", "IMG_2.xmp", "dir/x.jpg",
                                             "dir.xmp/inside.jpg", "lonely.xmp", "noext + noext.xmp"};
  EXPECT_EQ(seen, expected);
}

TEST(Walk, AFolderThatVanishesIsGivenInItsPlace) {
  TempTree tree;
  for (const char* f : {"a.jpg", "b/1.jpg", "c.jpg"}) tree.File(f);
  exifinfo_tool::FileWalk walk({tree.Path("")}, true);
  exifinfo_tool::WalkedFile f;
  ASSERT_TRUE(walk.Next(f));
  EXPECT_EQ(f.relative, "a.jpg");
  fs::remove_all(tree.Path("b"));  // listed, then gone before the walk enters it
  ASSERT_TRUE(walk.Next(f));
  EXPECT_EQ(f.kind, exifinfo_tool::WalkedFile::Kind::kUnreadableDirectory);
  EXPECT_EQ(f.path, tree.Path("b"));
  EXPECT_EQ(f.note, "No such file or directory");
  ASSERT_TRUE(walk.Next(f));
  EXPECT_EQ(f.relative, "c.jpg");
}

TEST(Walk, AFolderThatCannotBeReadIsReportedAndPassedOver) {
  exifinfo_tool::FileWalk walk({"/nonexistent-folder-of-photos"}, true);
  exifinfo_tool::WalkedFile f;
  EXPECT_TRUE(walk.Next(f));  // not a directory: given back as a file, which cannot be opened
  EXPECT_EQ(f.path, "/nonexistent-folder-of-photos");
  EXPECT_FALSE(walk.Next(f));
}

// Where a file system has no unnamed files, thumbnails go through named temporaries: a SIGTERM
// in the middle of writes removes them before the process ends by it. (Unnamed files leave
// nothing to remove, whatever ends the process.) The signal is sent once the writer is inside
// its writes (a temporary, or a first thumbnail, is there), whatever the machine's load.
TEST(Thumbnails, ASignalLeavesNoTemporaryFile) {
  TempTree tree;
  const std::vector<unsigned char> big(1 << 20, 0xAB);
  for (const bool unnamed : {false, true}) {
    for (int round = 0; round < 5; ++round) {
      const std::string folder = tree.Path("thumbs" + std::to_string(unnamed) + std::to_string(round));
      fs::create_directories(folder);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        exifinfo_tool::RemoveTemporariesOnSignals();
        const exifinfo_tool::ThumbnailFolder thumbnails(folder, true, unnamed);
        for (int i = 0;; ++i) {
          std::string name;
          thumbnails.Write("t" + std::to_string(i) + ".jpg", big.data(), big.size(), name);
        }
      }
      // The writer is at work once its first file shows (named: a temporary being written).
      const std::string awaited = unnamed ? ".jpg" : ".tmp";
      bool atWork = false;
      for (int waited = 0; !atWork && waited < 20000; ++waited) {
        for (const auto& entry : fs::directory_iterator(folder)) atWork |= entry.path().extension() == awaited;
        if (!atWork) usleep(1000);
      }
      EXPECT_TRUE(atWork);
      kill(child, SIGTERM);
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
      for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path() << (unnamed ? " (unnamed)" : " (named)");
    }
  }
}

// Of `jobs` readers only `runners` compute at once; those waiting on the storage overlap; the
// output keeps the input's order.
TEST(Pipeline, RunnersComputeWhileOthersWaitOnTheStorage) {
  std::atomic<int> computing{0}, waiting{0}, mostComputing{0}, mostWaiting{0};
  const auto raise = [](std::atomic<int>& most, int now) {
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
  };
  int given = 0;
  std::vector<int> printed;
  exifinfo_tool::RunOrdered<int, int>(
      [&](int& item) { return given < 400 ? (item = given++, true) : false; },
      [&](const int& item, exifinfo_tool::Storage& storage) {
        raise(mostComputing, ++computing);
        usleep(50);
        --computing;
        if (item % 2 == 0) {  // half the files wait on the storage
          storage.Wait();
          raise(mostWaiting, ++waiting);
          usleep(2000);
          --waiting;
          storage.Resume();
        }
        return item;
      },
      8, 1, [&](int result) {
        printed.push_back(result);
        return true;
      });
  ASSERT_EQ(printed.size(), 400u);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(printed[static_cast<size_t>(i)], i);
  EXPECT_EQ(mostComputing.load(), 1);  // one runner
  EXPECT_GT(mostWaiting.load(), 1);    // while several wait
}

// The tool's line is the library's (whose path escapes api_test checks), keys in -f's order.
TEST(Records, JsonLineIsTheLibrarysInTheColumnsOrder) {
  exifinfo_tool::FileRecord record{"d/caf\xE9.jpg", nullptr, "cannot open: x"};
  std::vector<exifinfo_tool::Column> columns;
  std::string unknown;
  ASSERT_TRUE(exifinfo_tool::SelectColumns("error,path", columns, unknown));
  EXPECT_EQ(exifinfo_tool::JsonLine(record, columns), "{\"error\":\"cannot open: x\",\"path\":\"d/caf\\udce9.jpg\"}");
}

TEST(Thumbnails, NamesThatWouldLeaveTheFolderAreRefused) {
  TempTree tree;
  fs::create_directories(tree.Path("thumbs"));
  fs::create_directory_symlink("/tmp", tree.Path("thumbs/outside"));
  const exifinfo_tool::ThumbnailFolder folder(tree.Path("thumbs"), false);
  const unsigned char bytes[] = {0xFF, 0xD8, 0xFF, 0xD9};
  for (const char* relative : {"../escape", "a/../../escape", "/etc/escape", "a//b", "./a", "", "outside/x"}) {
    std::string name;
    EXPECT_NE(folder.Write(relative, bytes, sizeof bytes, name), "") << relative;
  }
  EXPECT_FALSE(fs::exists(tree.Path("escape.thumb.jpg")));
  EXPECT_FALSE(fs::exists("/tmp/x.thumb.jpg"));
  std::string name;
  EXPECT_EQ(folder.Write("day/one.jpg", bytes, sizeof bytes, name), "");
  EXPECT_EQ(name, tree.Path("thumbs/day/one.jpg.thumb.jpg"));
  EXPECT_EQ(fs::file_size(name), sizeof bytes);
  EXPECT_NE(folder.Write("day/one.jpg", bytes, sizeof bytes, name), "");  // exists: kept
}

// The folder is opened once: swapped for a link to elsewhere mid-run, it still receives the
// thumbnails and the link's target nothing. The same bytes there already are kept; others stay.
TEST(Thumbnails, TheFolderOpenedOnceAndWhatIsThereKept) {
  TempTree tree;
  fs::create_directories(tree.Path("thumbs"));
  fs::create_directories(tree.Path("elsewhere"));
  const exifinfo_tool::ThumbnailFolder folder(tree.Path("thumbs"), false);
  const unsigned char bytes[] = {0xFF, 0xD8, 0xFF, 0xD9};
  std::string name;
  exifinfo_tool::ThumbnailOutcome outcome{};
  EXPECT_EQ(folder.Write("one.jpg", bytes, sizeof bytes, name, &outcome), "");
  EXPECT_EQ(outcome, exifinfo_tool::ThumbnailOutcome::kWritten);
  fs::rename(tree.Path("thumbs"), tree.Path("moved"));
  fs::create_directory_symlink(tree.Path("elsewhere"), tree.Path("thumbs"));
  EXPECT_EQ(folder.Write("two.jpg", bytes, sizeof bytes, name, &outcome), "");
  EXPECT_TRUE(fs::exists(tree.Path("moved/two.jpg.thumb.jpg")));
  EXPECT_TRUE(fs::is_empty(tree.Path("elsewhere")));

  const exifinfo_tool::ThumbnailFolder again(tree.Path("moved"), false);
  EXPECT_EQ(again.Write("one.jpg", bytes, sizeof bytes, name, &outcome), "");
  EXPECT_EQ(outcome, exifinfo_tool::ThumbnailOutcome::kKept);
  const unsigned char other[] = {0xFF, 0xD8, 0x00, 0xFF, 0xD9};
  EXPECT_NE(again.Write("two.jpg", other, sizeof other, name, &outcome), "");
  EXPECT_EQ(outcome, exifinfo_tool::ThumbnailOutcome::kDiffers);
  EXPECT_EQ(fs::file_size(tree.Path("moved/two.jpg.thumb.jpg")), sizeof bytes);
}

}  // namespace

// Files written whole or not at all: the name keeps its old content until the new one is
// complete, a failed write or an abandoned file leaves no trace, and two writers of one
// name each leave a whole file.
#include "shell/output_file.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream is(p);
  std::ostringstream os;
  os << is.rdbuf();
  return os.str();
}

fs::path fresh_dir(const std::string& name) {
  const fs::path d = fs::temp_directory_path() / ("kaven_output_file_" + name);
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

std::size_t entries(const fs::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(OutputFile, TheNameKeepsItsOldTextUntilTheNewOneIsWhole) {
  const fs::path dir = fresh_dir("commit");
  const fs::path name = dir / "run.cal";
  std::ofstream(name) << "old\n";
  kaven::OutputFile f(name, 16);  // a small buffer: the text goes out in many writes
  ASSERT_TRUE(f.is_open()) << f.error();
  for (int i = 0; i < 1000; ++i) f.stream() << i << '\n';
  EXPECT_EQ(slurp(name), "old\n");
  EXPECT_EQ(f.temporary().parent_path(), dir);
  EXPECT_EQ(entries(dir), 2u);
  ASSERT_TRUE(f.commit()) << f.error();
  const std::string text = slurp(name);
  EXPECT_TRUE(text.starts_with("0\n1\n2\n"));
  EXPECT_TRUE(text.ends_with("998\n999\n"));
  EXPECT_EQ(entries(dir), 1u);  // no temporary file left
}

TEST(OutputFile, AFailedWriteOrAnAbandonedFileLeavesThePreviousFile) {
  const fs::path dir = fresh_dir("fail");
  const fs::path name = dir / "run.ps";
  std::ofstream(name) << "previous page\n";
  {
    kaven::OutputFile f(name, 64);
    f.fail_after_bytes(100);  // a disk that is full after 100 bytes
    for (int i = 0; i < 100; ++i) f.stream() << "line " << i << '\n';
    EXPECT_FALSE(f.commit());
    EXPECT_NE(f.error().find("No space left"), std::string::npos) << f.error();
    EXPECT_NE(f.error().find("run.ps"), std::string::npos) << f.error();
  }
  EXPECT_EQ(slurp(name), "previous page\n");
  EXPECT_EQ(entries(dir), 1u);
  {
    kaven::OutputFile f(name);
    f.stream() << "never committed";
  }  // a run that stops early: the file goes, the name is untouched
  EXPECT_EQ(slurp(name), "previous page\n");
  EXPECT_EQ(entries(dir), 1u);
  // No name yet: nothing is created.
  kaven::OutputFile none(dir / "nothing.svg");
  none.discard();
  EXPECT_FALSE(fs::exists(dir / "nothing.svg"));
  EXPECT_EQ(entries(dir), 1u);
}

TEST(OutputFile, AMissingFolderIsSaidAndNothingIsWritten) {
  const fs::path dir = fresh_dir("missing");
  kaven::OutputFile f(dir / "no" / "such" / "run.out");
  EXPECT_FALSE(f.is_open());
  EXPECT_NE(f.error().find("cannot create a file in"), std::string::npos) << f.error();
  f.stream() << "dropped";
  EXPECT_FALSE(f.commit());
  EXPECT_FALSE(kaven::write_file_atomically(dir / "no" / "run.out", "x").empty());
  EXPECT_EQ(kaven::write_file_atomically(dir / "run.out", "text\n"), "");
  EXPECT_EQ(slurp(dir / "run.out"), "text\n");
}

TEST(OutputFile, TwoWritersOfOneNameEachLeaveAWholeFileAndLinksAreWrittenThrough) {
  const fs::path dir = fresh_dir("two");
  const fs::path name = dir / "yig.ps";
  kaven::OutputFile first(name), second(name);
  const std::string a(100000, 'a'), b(50000, 'b');
  first.stream() << a;
  second.stream() << b;
  ASSERT_TRUE(first.commit());
  EXPECT_EQ(slurp(name), a);
  ASSERT_TRUE(second.commit());
  EXPECT_EQ(slurp(name), b);  // the last to finish wins, whole
  EXPECT_EQ(entries(dir), 1u);

  const fs::path target = dir / "target.out", link = dir / "link.out";
  std::ofstream(target) << "old";
  fs::create_symlink(target, link);
  EXPECT_EQ(kaven::write_file_atomically(link, "new"), "");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(slurp(target), "new");
}

}  // namespace

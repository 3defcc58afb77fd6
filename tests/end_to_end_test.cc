// Runs of the built program in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;

// Voice 3's record, written out by hand, and the 71-byte chunk it must become.
const unsigned char kRecord[48] = {
    'S', 'Y', 'N', ' ', 'L', 'E', 'A', 'D', 0x12, 0x34, 0x56, 0x78,  // dt|ml of operators
                                                                     // 1, 3, 2, 4
    10, 30, 20, 40,                                                  // tl
    0xDF, 0x41, 0x82, 0x23,  // ks|-|ar, bit 5 set in operators 1 and 4
    0xFF, 0x05, 0x80, 0x7F,  // ams|dr
    0xFF, 1, 2, 3,           // sr
    0xF0, 0x1E, 0x2D, 0x3C,  // sl|rr
    0xFD,                    // -|fb|alg: fb 15, alg 5
    0x9A,                    // pan|ams|-|pms: pan 2, ams 1, pms 2
    0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

const std::string kChunk = "\x05\x0F\x01\x02"s + std::string(6, '\0') + "\xFF"s +
                           // tl, ar, dr, sl, sr, rr, ks, ml, dt, 0, ams
                           "\x0A\x1F\x7F\x0F\xFF\x00\x03\x02\x01\x00\x01"s +  // operator 1
                           "\x14\x02\x00\x02\x02\x0D\x02\x06\x05\x00\x01"s +  // operator 2
                           "\x1E\x01\x05\x01\x01\x0E\x01\x04\x03\x00\x00"s +  // operator 3
                           "\x28\x03\x7F\x03\x03\x0C\x00\x08\x07\x00\x00"s +  // operator 4
                           "SYN LEAD" + std::string(8, '\0');

std::string sample_bank() {
  return bank_bytes([](unsigned char* record, int voice) {
    if (voice == 3) std::memcpy(record, kRecord, sizeof kRecord);
  });
}

// The bank the sample must give: header, 127 zero voices and voice 3.
std::string expected_plugin_bank() {
  std::string bank = kBankHeader;
  for (int k = 0; k < 128; ++k) bank += k == 3 ? kChunk : kZeroVoiceChunk;
  return bank;
}

// Every failure of the bank stage, on every system.
constexpr int kWriteFailed = 255;

const std::string kRefusal = "error: This is .fxb file. Set .fmb file.\n";

std::string reason(int error) {
  return std::strerror(error);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir / "bank.fmb", sample_bank()); }
  Result run(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return run_program(dir.path(), args, options);
  }
  // The listing the sample bank prints, taken from a clean run.
  std::string listing() {
    TempDir other;
    write_file(other / "bank.fmb", sample_bank());
    return run_program(other.path(), {"bank.fmb"}).out;
  }
  TempDir dir;
};

TEST_F(EndToEnd, UsageWithoutArgument) {
  const Result r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, as_stdout_text("usage:" + program_path() + " filename\n"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.entries(), Names{"bank.fmb"});
}

TEST_F(EndToEnd, ConvertsListingAndBank) {
  const Result r = run({"bank.fmb", "ignored.fmb"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1025);
  EXPECT_NE(r.out.find(as_stdout_text("},{\t\"SYN LEAD\",\n//\talg   fb  pms  ams  pan\n"
                                      "\t  5,  15,   2,   1,   2\n")),
            std::string::npos);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

TEST_F(EndToEnd, ReplacesALongerEarlierBank) {
  write_file(dir / "bank.fxb", std::string(20000, 'x'));
  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

TEST_F(EndToEnd, ShortAndLongSourcesUseTheFirst6152Bytes) {
  write_file(dir / "short.fmb", sample_bank().substr(0, 8 + 4 * 48));
  write_file(dir / "long.fmb", sample_bank() + std::string(5000, '\xFF'));
  const Result exact = run({"bank.fmb"});
  const Result shorter = run({"short.fmb"});
  const Result longer = run({"long.fmb"});
  EXPECT_EQ(shorter.status, 0);
  EXPECT_EQ(longer.status, 0);
  EXPECT_EQ(shorter.out, exact.out);
  EXPECT_EQ(longer.out, exact.out);
  EXPECT_EQ(read_file(dir / "short.fxb"), expected_plugin_bank());
  EXPECT_EQ(read_file(dir / "long.fxb"), expected_plugin_bank());
}

TEST_F(EndToEnd, RefusesFxbArgumentsAfterTheListing) {
  const std::string earlier = sample_bank();
  fs::create_directory(dir / "dir.fxbank");
  write_file(dir / "dir.fxbank" / "voices.fmb", earlier);
  write_file(dir / "x.fxb", earlier);
  for (const char* argument : {"x.fxb", "dir.fxbank/voices.fmb"}) {
    SCOPED_TRACE(argument);
    const Result r = run({argument});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, listing() + as_stdout_text(kRefusal));
  }
  EXPECT_EQ(read_file(dir / "x.fxb"), earlier);
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "dir.fxbank", "x.fxb"}));
}

TEST_F(EndToEnd, UnreadableSourcesStopBeforeTheListing) {
  fs::create_directory(dir / "folder.fmb");
  struct Case {
    const char* argument;
    std::string expected;  // the start of the one line
  };
  const Case cases[] = {
      {"missing.fmb", "error: cannot read missing.fmb: " + reason(ENOENT) + "\n"},
      // The read fails before the ".fxb" test is reached.
      {"missing.fxb", "error: cannot read missing.fxb: " + reason(ENOENT) + "\n"},
      {"", "error: cannot read : " + reason(ENOENT) + "\n"},
      {"folder.fmb", "error: cannot read folder.fmb: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    const Result r = run({c.argument});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(as_stdout_text(c.expected), 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "folder.fmb"}));
}

TEST_F(EndToEnd, ADirectoryAtTheOutputName) {
  fs::create_directory(dir / "bank.fxb");
  const Result r = run({"bank.fmb"});
  EXPECT_EQ(r.status, kWriteFailed);
  const std::string line = "error: cannot write bank.fxb: ";
  ASSERT_GT(r.out.size(), listing().size());
  EXPECT_EQ(r.out.substr(0, listing().size()), listing());
  EXPECT_EQ(r.out.substr(listing().size(), line.size()), line);
  EXPECT_TRUE(fs::is_directory(dir / "bank.fxb"));
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

TEST_F(EndToEnd, AHardLinkToTheSourceIsNotOverwritten) {
  fs::create_hard_link(dir / "bank.fmb", dir / "bank.fxb");
  const Result r = run({"bank.fmb"});
  EXPECT_EQ(r.status, kWriteFailed);
  EXPECT_EQ(r.out, listing() + as_stdout_text(
                                   "error: bank.fxb is the source file; it is not overwritten\n"));
  EXPECT_EQ(read_file(dir / "bank.fmb"), sample_bank());
}

// On a file system that ignores letter case "VOICES.fxb" is the source itself.
TEST_F(EndToEnd, UpperCaseFxbIsConvertedUnlessItIsTheSource) {
  write_file(dir / "VOICES.FXB", sample_bank());
  const bool ignores_case = fs::exists(dir / "voices.fxb");
  const Result r = run({"VOICES.FXB"});
  EXPECT_EQ(read_file(dir / "VOICES.FXB"), sample_bank());
  if (ignores_case) {
    EXPECT_EQ(r.status, kWriteFailed);
    EXPECT_EQ(r.out,
              listing() +
                  as_stdout_text("error: VOICES.fxb is the source file; it is not overwritten\n"));
  } else {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, listing());
    EXPECT_EQ(read_file(dir / "VOICES.fxb"), expected_plugin_bank());
  }
}

TEST_F(EndToEnd, AClosedOrFailingStdoutStillGivesTheBank) {
  for (Stdout mode : {Stdout::kReaderGone, Stdout::kFull}) {
    SCOPED_TRACE(static_cast<int>(mode));
    fs::remove(dir / "bank.fxb");
    RunOptions options;
    options.stdout_mode = mode;
    EXPECT_EQ(run({"bank.fmb"}, options).status, 0);
    EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  }
}

#ifndef _WIN32
// Only a POSIX parent can start a program with no argument 0 at all.
TEST_F(EndToEnd, UsageWithoutEvenArgumentZero) {
  RunOptions options;
  options.omit_argv0 = true;
  const Result r = run({}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, as_stdout_text("usage: filename\n"));
}

TEST_F(EndToEnd, TheReplacementKeepsTheEarlierPermissions) {
  write_file(dir / "bank.fxb", "earlier bank");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir / "bank.fxb", mode);
  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(fs::status(dir / "bank.fxb").permissions(), mode);
}

// The limit raises SIGXFSZ, which the program ignores so that the write fails instead.
TEST_F(EndToEnd, AFileSizeLimitFailsTheWriteAndKeepsTheEarlierBank) {
  write_file(dir / "bank.fxb", "earlier bank");
  RunOptions options;
  options.file_size_limit = 4096;
  const Result r = run({"bank.fmb"}, options);
  EXPECT_EQ(r.status, kWriteFailed);
  EXPECT_EQ(r.out, listing() + "error: cannot write bank.fxb: " + reason(EFBIG) + "\n");
  EXPECT_EQ(read_file(dir / "bank.fxb"), "earlier bank");
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

TEST_F(EndToEnd, ASymbolicLinkToTheSourceIsNotOverwritten) {
  fs::create_symlink("bank.fmb", dir / "bank.fxb");
  const Result r = run({"bank.fmb"});
  EXPECT_EQ(r.status, kWriteFailed);
  EXPECT_EQ(r.out, listing() + "error: bank.fxb is the source file; it is not overwritten\n");
  EXPECT_EQ(read_file(dir / "bank.fmb"), sample_bank());
  EXPECT_TRUE(fs::is_symlink(dir / "bank.fxb"));
}

TEST_F(EndToEnd, AnOutputLinkIsWrittenThrough) {
  fs::create_directory(dir / "store");
  write_file(dir / "store" / "real.fxb", "earlier bank");
  fs::create_symlink("store/real.fxb", dir / "bank.fxb");
  fs::create_symlink("gone/real.fxb", dir / "dangling.fxb");
  write_file(dir / "dangling.fmb", sample_bank());

  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "bank.fxb"));
  EXPECT_EQ(read_file(dir / "store" / "real.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries(),
            (Names{"bank.fmb", "bank.fxb", "dangling.fmb", "dangling.fxb", "store"}));

  // A link into a folder that does not exist cannot be written through.
  const Result r = run({"dangling.fmb"});
  EXPECT_EQ(r.status, kWriteFailed);
  EXPECT_EQ(r.out.substr(listing().size()),
            "error: cannot write dangling.fxb: cannot create a temporary file beside it: " +
                reason(ENOENT) + "\n");

  // Nor can a link that leads back to itself; the link stays.
  fs::create_symlink("loop.fxb", dir / "loop.fxb");
  write_file(dir / "loop.fmb", sample_bank());
  const Result loop = run({"loop.fmb"});
  EXPECT_EQ(loop.status, kWriteFailed);
  EXPECT_EQ(loop.out.substr(listing().size()),
            "error: cannot write loop.fxb: " + reason(ELOOP) + "\n");
  EXPECT_TRUE(fs::is_symlink(dir / "loop.fxb"));
}

TEST_F(EndToEnd, MessagesShowControlBytesAsQuestionMarks) {
  const Result missing = run({"nope\nerror: forged\x1B]0;T\a.fmb"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out,
            "error: cannot read nope?error: forged?]0;T?.fmb: " + reason(ENOENT) + "\n");

  write_file(dir / "a\x1B\tb.fmb", sample_bank());
  fs::create_directory(dir / "a\x1B\tb.fxb");
  const Result blocked = run({"a\x1B\tb.fmb"});
  EXPECT_EQ(blocked.status, kWriteFailed);
  EXPECT_EQ(blocked.out.substr(listing().size()),
            "error: cannot write a??b.fxb: " + reason(EISDIR) + "\n");

  // A UTF-8 C1 control, here the one-character CSI, is a control too.
  const Result csi =
      run({"a\xC2\x9B"
           "2J.fmb"});
  EXPECT_EQ(csi.out, "error: cannot read a??2J.fmb: " + reason(ENOENT) + "\n");

  RunOptions options;
  options.argv0 = "fmb\r2fxb\x7F";
  EXPECT_EQ(run({}, options).out, "usage:fmb?2fxb? filename\n");
}

// On a terminal, a name cannot send it commands; to a pipe the listing stays byte-exact. The
// 126 other voices have names of eight zero bytes.
TEST_F(EndToEnd, NamesOnATerminalShowControlBytesAsQuestionMarks) {
  const std::string title = "\x1B]0;T\a\r\b";  // set the title, return, back up
  const std::string mixed =
      "\x7F\xE9\x9F\xB3"
      "a\0\n\t"s;  // DEL, a kanji, NUL, LF, TAB
  // C1 controls in UTF-8: CSI (C2 9B) then "2J" clears the screen; NEL (C2 85) is a line end.
  const std::string c1 =
      "\xC2\x9B"
      "2J\xC2\x85"
      "ok";
  write_file(dir / "names.fmb", bank_bytes([&](unsigned char* record, int voice) {
               if (voice == 0) std::memcpy(record, title.data(), 8);
               if (voice == 1) std::memcpy(record, mixed.data(), 8);
               if (voice == 2) std::memcpy(record, c1.data(), 8);
             }));
  const Result piped = run({"names.fmb"});
  const std::string raw = "{\t\"" + title + "\",\n";
  ASSERT_EQ(piped.out.rfind(raw, 0), 0u);
  ASSERT_NE(piped.out.find("},{\t\"" + mixed + "\",\n"), std::string::npos);
  ASSERT_NE(piped.out.find("},{\t\"" + c1 + "\",\n"), std::string::npos);

  RunOptions options;
  options.stdout_mode = Stdout::kTerminal;
  const Result shown = run({"names.fmb"}, options);
  EXPECT_EQ(shown.status, 0);
  std::string expected = piped.out;
  expected.replace(3, 8, "?]0;T???");
  expected.replace(expected.find(mixed), 8,
                   "?\xE9\x9F\xB3"
                   "a???");
  expected.replace(expected.find(c1), 8, "??2J??ok");
  const std::string zero_name = "{\t\"" + std::string(8, '\0');
  for (std::size_t at = 0; (at = expected.find(zero_name, at)) != std::string::npos;) {
    expected.replace(at, zero_name.size(), "{\t\"????????");
  }
  EXPECT_EQ(shown.out, expected);
}

TEST_F(EndToEnd, ClosedStandardDescriptorsStayOutOfTheBank) {
  RunOptions options;
  options.stdout_mode = Stdout::kClosed;
  EXPECT_EQ(run({"bank.fmb"}, options).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

// Temporary names are unpredictable: no number of leftovers or planted files can block a bank.
TEST_F(EndToEnd, LeftoverTemporaryFilesDoNotBlockTheBank) {
  for (int n = 0; n < 100; ++n) write_file(dir / ("bank.fxb." + std::to_string(n) + ".tmp"), "");
  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries().size(), 102u);
}

// Runs killed at random moments: whatever the moment, the folder holds the source and either
// the earlier bank or the complete new one, never a temporary file.
TEST_F(EndToEnd, InterruptsNeverLeaveATemporaryFile) {
  const auto start = std::chrono::steady_clock::now();
  run({"bank.fmb"});
  const long run_us = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
  std::mt19937 random(12345);
  int interrupted = 0;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    for (int n = 0; n < 40; ++n) {
      write_file(dir / "bank.fxb", "earlier bank");
      RunOptions options;
      options.signal = signal_number;
      options.signal_delay_us = static_cast<long>(random() % static_cast<unsigned>(run_us + 1));
      const Result r = run({"bank.fmb"}, options);
      ASSERT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"})) << "signal " << signal_number;
      const std::string bank = read_file(dir / "bank.fxb");
      ASSERT_TRUE(bank == "earlier bank" || bank == expected_plugin_bank());
      if (r.status == 128 + signal_number) {
        ++interrupted;
      } else {
        ASSERT_EQ(r.status, 0);
        ASSERT_EQ(bank, expected_plugin_bank());
      }
    }
  }
  EXPECT_GT(interrupted, 0);
}

// In a sticky, world-writable folder, a link that another user planted is not followed.
TEST_F(EndToEnd, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  write_file(dir / "mine.fxb", "my own file");
  write_file(shared / "bank.fmb", sample_bank());
  write_file(shared / "own.fmb", sample_bank());
  fs::create_symlink("../mine.fxb", shared / "bank.fxb");
  fs::create_symlink("own-target.fxb", shared / "own.fxb");
  const uid_t stranger = getuid() + 4242;
  if (lchown((shared / "bank.fxb").c_str(), stranger, getgid()) != 0) {
    GTEST_SKIP() << "giving a link to another user needs root";
  }
  const Result r = run_program(shared, {"bank.fmb"});
  EXPECT_EQ(r.status, kWriteFailed);
  EXPECT_EQ(r.out.substr(listing().size()),
            "error: cannot write bank.fxb: " + reason(EACCES) + "\n");
  EXPECT_EQ(read_file(dir / "mine.fxb"), "my own file");
  EXPECT_TRUE(fs::is_symlink(shared / "bank.fxb"));

  // The user's own link is written through as anywhere else.
  EXPECT_EQ(run_program(shared, {"own.fmb"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(shared / "own.fxb"));
  EXPECT_EQ(read_file(shared / "own-target.fxb"), expected_plugin_bank());
}
// Only a regular file is replaced: a FIFO, a device or a link to one is refused without being
// opened, so that a FIFO with no reader cannot hold the run.
TEST_F(EndToEnd, OnlyARegularFileIsReplaced) {
  ASSERT_EQ(mkfifo((dir / "fifo.fxb").c_str(), 0644), 0);
  Names outputs = {"fifo"};
  if (mknod((dir / "device.fxb").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    fs::create_symlink("device.fxb", dir / "link.fxb");
    outputs.insert(outputs.end(), {"device", "link"});
  } else {
    std::printf("not root: no device made, only the FIFO is tried\n");
  }
  for (const std::string& stem : outputs) {
    SCOPED_TRACE(stem);
    write_file(dir / (stem + ".fmb"), sample_bank());
    const Result r = run({stem + ".fmb"});
    EXPECT_EQ(r.status, kWriteFailed);
    EXPECT_EQ(r.out.substr(listing().size()),
              "error: cannot write " + stem + ".fxb: not a regular file\n");
  }
  EXPECT_TRUE(fs::is_fifo(dir / "fifo.fxb"));
  if (outputs.size() > 1) {
    EXPECT_TRUE(fs::is_character_file(dir / "link.fxb"));
  }
  EXPECT_EQ(dir.entries().size(), 2 * outputs.size() + 1);
}

// Replaced by root, a user's bank stays the user's, with its mode but never a set-id bit.
TEST_F(EndToEnd, TheReplacementKeepsOwnerAndGroupButNoSetIdBits) {
  write_file(dir / "bank.fxb", "earlier bank");
  const std::string bank = (dir / "bank.fxb").string();
  if (chown(bank.c_str(), 4242, 4343) != 0) GTEST_SKIP() << "giving a file away needs root";
  ASSERT_EQ(chmod(bank.c_str(), 06754), 0);
  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  struct stat status;
  ASSERT_EQ(stat((dir / "bank.fxb").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 4242u);
  EXPECT_EQ(status.st_gid, 4343u);
  EXPECT_EQ(status.st_mode & 07777, 0754u);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
}

// The access ACL and user.* attributes come along; trusted.* and the like never do.
TEST_F(EndToEnd, TheReplacementKeepsItsAclAndUserAttributes) {
  write_file(dir / "bank.fxb", "earlier bank");
  const std::string bank = (dir / "bank.fxb").string();
  ASSERT_EQ(chmod(bank.c_str(), 0640), 0);
  if (setxattr(bank.c_str(), "user.comment", "strings", 7, 0) != 0) {
    GTEST_SKIP() << "no user attributes here: " << std::strerror(errno);
  }
  // The ACL as the kernel stores it, little-endian: version 2, then tag, permissions, id.
  // Owner rw-, user 4242 rw-, group r--, mask rw-, others ---.
  const std::string acl =
      "\x02\x00\x00\x00"s
      "\x01\x00\x06\x00\xFF\xFF\xFF\xFF"
      "\x02\x00\x06\x00\x92\x10\x00\x00"
      "\x04\x00\x04\x00\xFF\xFF\xFF\xFF"
      "\x10\x00\x06\x00\xFF\xFF\xFF\xFF"
      "\x20\x00\x00\x00\xFF\xFF\xFF\xFF"s;
  ASSERT_EQ(setxattr(bank.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
      << std::strerror(errno);
  const bool trusted = setxattr(bank.c_str(), "trusted.note", "x", 1, 0) == 0;

  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  char value[256];
  ssize_t size = getxattr(bank.c_str(), "system.posix_acl_access", value, sizeof value);
  ASSERT_GT(size, 0) << std::strerror(errno);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(size)), acl);
  size = getxattr(bank.c_str(), "user.comment", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(std::max<ssize_t>(size, 0))), "strings");
  if (trusted) {
    EXPECT_LT(getxattr(bank.c_str(), "trusted.note", value, sizeof value), 0);
  }
  struct stat status;
  ASSERT_EQ(stat(bank.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0660u);  // the group bits show the mask
}

// Other hard links of the bank keep the earlier bank: only the name converted to is replaced.
TEST_F(EndToEnd, OtherHardLinksKeepTheEarlierBank) {
  write_file(dir / "bank.fxb", "earlier bank");
  fs::create_hard_link(dir / "bank.fxb", dir / "backup.fxb");
  EXPECT_EQ(run({"bank.fmb"}).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(read_file(dir / "backup.fxb"), "earlier bank");
}

// A caller that blocks a signal keeps it blocked: one pending from the start ends nothing.
TEST_F(EndToEnd, ASignalTheCallerBlockedStaysBlocked) {
  write_file(dir / "bank.fxb", "earlier bank");
  RunOptions options;
  options.pending_signal = SIGTERM;
  EXPECT_EQ(run({"bank.fmb"}, options).status, 0);
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));
}

// The temporary name is cut to fit the folder's 255-byte name limit.
TEST_F(EndToEnd, ALinkToALongNameIsWrittenThrough) {
  const std::string long_name = std::string(246, 'b') + ".fxb";
  write_file(dir / long_name, "earlier bank");
  fs::create_symlink(long_name, dir / "bank.fxb");
  const Result r = run({"bank.fmb"});
  EXPECT_EQ(r.status, 0) << r.out.substr(listing().size());
  EXPECT_EQ(read_file(dir / long_name), expected_plugin_bank());
  EXPECT_TRUE(fs::is_symlink(dir / "bank.fxb"));
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb", long_name}));
}

// A user who may write the bank but not its folder gets it written in place: from its start,
// then cut to its length. A failure once bytes are in says that the bank may be incomplete;
// one before keeps the earlier bank.
TEST_F(EndToEnd, AFolderThatTakesNoNewFileGetsTheBankWrittenInPlace) {
  constexpr long kUser = 4242;
  const std::string bank = (dir / "bank.fxb").string();
  const std::string earlier(20000, 'x');
  write_file(dir / "bank.fxb", earlier);
  if (chown(bank.c_str(), kUser, kUser) != 0) GTEST_SKIP() << "running as another user needs root";
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  struct stat before;
  ASSERT_EQ(stat(bank.c_str(), &before), 0);

  RunOptions options;
  options.user = kUser;
  const Result r = run({"bank.fmb"}, options);
  EXPECT_EQ(r.status, 0) << r.out.substr(std::min(r.out.size(), listing().size()));
  EXPECT_EQ(read_file(dir / "bank.fxb"), expected_plugin_bank());
  struct stat after;
  ASSERT_EQ(stat(bank.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(dir.entries(), (Names{"bank.fmb", "bank.fxb"}));

  struct Case {
    long size_limit;
    std::string message;
    std::string bank;
  };
  const Case cases[] = {
      {4096,
       "error: cannot write bank.fxb: " + reason(EFBIG) +
           "; written in place, the bank may be incomplete\n",
       expected_plugin_bank().substr(0, 4096) + earlier.substr(4096)},
      {0, "error: cannot write bank.fxb: " + reason(EFBIG) + "\n", earlier},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size_limit);
    write_file(dir / "bank.fxb", earlier);
    options.file_size_limit = c.size_limit;
    const Result failed = run({"bank.fmb"}, options);
    EXPECT_EQ(failed.status, kWriteFailed);
    EXPECT_EQ(failed.out.substr(listing().size()), c.message);
    EXPECT_EQ(read_file(dir / "bank.fxb"), c.bank);
  }
  // Nor is a bank the user may not write written anywhere.
  ASSERT_EQ(chmod(bank.c_str(), 0444), 0);
  options.file_size_limit = -1;
  EXPECT_EQ(run({"bank.fmb"}, options).out.substr(listing().size()),
            "error: cannot write bank.fxb: " + reason(EACCES) + "\n");
}
#endif

}  // namespace

// Names beyond ASCII on Windows, under the system code page the suite runs with: CI runs it
// under Wine once with code page 1252 (Western) and once with 932 (Japanese). Every expected
// name is worked out by hand from the bytes of the name in that code page or in UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/test_support.h"

namespace {

using namespace std::string_literals;

// A bank whose voice 0 is named `name`, so that each bank written shows which source it came
// from: the name stands at bytes 55 to 62 of voice 0's chunk, which starts at byte 160.
std::string named_bank(const std::string& name) {
  return bank_bytes([&](unsigned char* record, int voice) {
    if (voice == 0) std::memcpy(record, name.data(), 8);
  });
}

std::string name_in_bank(const fs::path& bank) {
  return read_file(bank).substr(160 + 55, 8);
}

struct NameCase {
  const char* source;  // every name in UTF-8
  const char* on_1252;
  const char* on_932;
};

const NameCase kNameCases[] = {
    // 1252 holds no kana: cut as UTF-8, where バ takes bytes 6 to 8. In 932 each of the five
    // takes two bytes: 89 B9, 90 46, 83 6F, 83 93 | 83 4E.
    {"音色バンク.fmb", "音色.fxb", "音色バン.fxb"},
    // é is E9 in 1252; 932 lacks it (no best-fit "e"): UTF-8 C3 A9, five bytes in all.
    {"Café.fmb", "Café.fxb", "Café.fxb"},
    // No code page holds the emoji: UTF-8 F0 9F 8E B9, then "bank".
    {"🎹bank.fmb", "🎹bank.fxb", "🎹bank.fxb"},
    // A folder with a Japanese name: 音色 is six bytes of UTF-8 or four of 932, then "\v".
    {"音色\\v.fmb", "音色\\v.fxb", "音色\\v.fxb"},
    // In 932, "a" and three kana take 7 bytes and 音 (89 B9) would be split: it is left out.
    // In UTF-8, ク (E3 82 AF) starts at byte 7 and is left out.
    {"aバンク音.fmb", "aバン.fxb", "aバンク.fxb"},
    // PowerShell completes a name as .\name: the current folder is no part of the name.
    {".\\音色バンク.fmb", "音色.fxb", "音色バン.fxb"},
    {".\\.\\longbankname.fmb", "longbank.fxb", "longbank.fxb"},
    {".\\音色\\v.fmb", "音色\\v.fxb", "音色\\v.fxb"},
    {"./Café.fmb", "Café.fxb", "Café.fxb"},
};

// The code page the run was set up for, where it was: the test must not pass by skipping.
void check_code_page() {
  if (const char* wanted = std::getenv("FMB2FXB_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(wanted)));
  }
}

const char* expected_name(const NameCase& c) {
  switch (GetACP()) {
    case 932:
      return c.on_932;
    case 1252:
      return c.on_1252;
    default:
      return nullptr;
  }
}

TEST(WindowsNames, EveryNameConvertsAndIsCutOnACharacter) {
  check_code_page();
  if (GetACP() != 932 && GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.source);
    TempDir dir;
    fs::create_directory(dir / "音色");
    write_file(dir / c.source, named_bank("SOURCE  "));
    // The look-alike that a best-fit conversion of "Café.fmb" would open instead.
    write_file(dir / "Cafe.fmb", named_bank("LOOKLIKE"));
    const Result r = run_program(dir.path(), {c.source});
    EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() > 200 ? r.out.size() - 200 : 0);
    ASSERT_TRUE(fs::exists(dir / expected_name(c))) << expected_name(c);
    EXPECT_EQ(name_in_bank(dir / expected_name(c)), "SOURCE  ");
    EXPECT_FALSE(fs::exists(dir / "Cafe.fxb"));
  }
}

// Messages show paths in the system code page, with "?" for what it cannot hold.
TEST(WindowsNames, MessagesShowPathsInTheCodePage) {
  const std::string on_932 = "\x89\xB9\x90\x46\x82\xC8\x82\xB5.fmb";  // 音色なし
  const std::string expected = GetACP() == 932 ? on_932 : "????.fmb";
  TempDir dir;
  const Result r = run_program(dir.path(), {"音色なし.fmb"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            as_stdout_text("error: cannot read " + expected + ": " + std::strerror(ENOENT) + "\n"));
}

// A batch file's "if errorlevel 1" sees a failed bank.
TEST(WindowsNames, BatchFilesSeeAFailedBank) {
  TempDir dir;
  write_file(dir / "bank.fmb", named_bank("SOURCE  "));
  fs::create_directory(dir / "bank.fxb");
  write_file(dir / "convert.bat",
             "@echo off\r\n\"" + program_path() +
                 "\" bank.fmb >nul\r\n"
                 "if errorlevel 1 (echo caught %errorlevel%) else (echo missed)\r\n");
  const Result r = run_batch(dir.path(), "convert.bat");
  EXPECT_EQ(r.out, "caught 255\r\n");
}

}  // namespace

namespace {

// The program's resources: a manifest that asks for long paths and leaves the code page
// alone, and the version information Explorer shows.
TEST(WindowsProgram, DeclaresLongPathsAndItsVersion) {
  HMODULE program = LoadLibraryExW(widen(program_path()).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(program, nullptr);
  const auto resource_text = [&](LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(program, name, type);
    if (found == nullptr) return std::string();
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(program, found)));
    return std::string(bytes, SizeofResource(program, found));
  };
  const std::string manifest = resource_text(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("<activeCodePage"), std::string::npos);
  // Version strings are stored in UTF-16.
  const std::string version = resource_text(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  std::string wide_version;
  for (const char c : std::string(FMB2FXB_VERSION)) wide_version += std::string{c, '\0'};
  EXPECT_NE(version.find(wide_version), std::string::npos);
  FreeLibrary(program);
}

// A replaced bank keeps its hidden, system, archive and not-content-indexed attributes; a
// device at the output name is refused, not replaced.
TEST(WindowsFiles, AttributesAreKeptAndADeviceIsRefused) {
  TempDir dir;
  write_file(dir / "bank.fmb", named_bank("SOURCE  "));
  write_file(dir / "bank.fxb", "earlier bank");
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const std::wstring bank = (dir / "bank.fxb").wstring();
  ASSERT_NE(SetFileAttributesW(bank.c_str(), kept), 0);
  // Wine keeps hidden, system and archive, but not every file system keeps them all.
  const DWORD before = GetFileAttributesW(bank.c_str()) & kept;
  ASSERT_NE(before & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(run_program(dir.path(), {"bank.fmb"}).status, 0);
  EXPECT_EQ(name_in_bank(dir / "bank.fxb"), "SOURCE  ");
  EXPECT_EQ(GetFileAttributesW(bank.c_str()) & kept, before);

  // NUL with any extension is the null device: it reads as an empty bank, and is no bank file.
  const Result r = run_program(dir.path(), {"NUL.fmb"});
  EXPECT_EQ(r.status, 255);
  const std::string tail = as_stdout_text("error: cannot write NUL.fxb: not a regular file\n");
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace

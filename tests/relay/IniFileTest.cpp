#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "relay/IniFile.h"
#include "rtl/StrUtils.h"

using namespace vv;

namespace {

// A settings file of its own per test, removed afterwards.
class IniFile : public ::testing::Test {
protected:
  void SetUp() override {
    Path = (std::filesystem::temp_directory_path() /
            ("vv_ini_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini"))
               .string();
  }
  void TearDown() override { std::remove(Path.c_str()); }
  void Write(const std::string &bytes) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string Read(const char *section, const char *key, const char *def = "<default>") {
    return TIniFile(Path).ReadString(section, key, def);
  }
  std::string Path;
};

} // namespace

TEST_F(IniFile, ProxyPortValues) {
  struct Case {
    std::string text;
    int32_t expected;
  } cases[] = {
      {"8080", 8080},
      {"0x1F90", 8080},
      {"0X1f90", 8080},
      {"$1F90", 8080},
      {"x1F90", 8080},
      {"  8080", 8080},
      {"\"8080\"", 8080},
      {"+8080", 8080},
      {"-1", -1},
      {"-0x10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"0x7FFFFFFF", 2147483647},
      {"80a", 0},
      {"0x", 0},
      {"$", 0},
      {"", 0},
      {"2147483648", 0},
      {"-2147483649", 0},
      {"0x80000000", 0},
      {"8080 8081", 0},
      {"eighty", 0},
  };
  for (const Case &c : cases) {
    Write("[WEBSERVICE]\nproxyport=" + c.text + "\n");
    EXPECT_EQ(TIniFile(Path).ReadInteger("WEBSERVICE", "proxyport", 0), c.expected)
        << "'" << c.text << "'";
  }
  Write("[WEBSERVICE]\n");
  EXPECT_EQ(TIniFile(Path).ReadInteger("WEBSERVICE", "proxyport", 0), 0);
  EXPECT_EQ(TIniFile(Path).ReadInteger("WEBSERVICE", "proxyport", 77), 77);
}

TEST_F(IniFile, FormatRules) {
  Write("key=before any section\n"
        "[AUTHENTICATION]\n"
        "username=alice\n"
        "password = \"p=w d\" \n"
        "[webservice]\r\n"
        "IPADDRESS=127.0.0.1:8080\r\n"
        "  path  =   /ws/flights.asmx?a=b   \r\n"
        "protocol='https'\n"
        "single='\n"
        "empty=\n"
        "quoted-empty=\"\"\n"
        "mismatched=\"abc'\n"
        "inner=a\"b\"\n"
        "no equals sign here\n"
        "\tproxyip\t=\t10.0.0.1\t\n"
        "proxyip=second value is not read\n"
        "[ OTHER ]\n"
        "username=bob\n");
  struct Case {
    const char *section, *key, *expected;
  } cases[] = {
      {"AUTHENTICATION", "username", "alice"},
      {"authentication", "USERNAME", "alice"},
      {"AUTHENTICATION", "password", "p=w d"},
      {"WEBSERVICE", "ipaddress", "127.0.0.1:8080"},
      {"WEBSERVICE", "path", "/ws/flights.asmx?a=b"},
      {"WEBSERVICE", "protocol", "https"},
      {"WEBSERVICE", "single", "'"},
      {"WEBSERVICE", "empty", ""},
      {"WEBSERVICE", "quoted-empty", ""},
      {"WEBSERVICE", "mismatched", "\"abc'"},
      {"WEBSERVICE", "inner", "a\"b\""},
      {"WEBSERVICE", "proxyip", "10.0.0.1"},
      {"WEBSERVICE", "no equals sign here", "<default>"},
      {"WEBSERVICE", "username", "<default>"}, // belongs to another section
      {"OTHER", "username", "bob"},
      {"AUTHENTICATION", "key", "<default>"}, // before any section: no value
      {"MISSING", "username", "<default>"},
      {"AUTHENTICATION", "missing", "<default>"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Read(c.section, c.key), c.expected) << c.section << "/" << c.key;
}

TEST_F(IniFile, MissingFileGivesDefaults) {
  TIniFile ini(Path + ".absent");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", ""), "");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("WEBSERVICE", "proxyport", 0), 0);
  EXPECT_FALSE(std::filesystem::exists(Path + ".absent")); // reading creates nothing
}

TEST_F(IniFile, LongValuesAreCutInUTF16Units) {
  const std::string e = "\xC3\xA9";            // one UTF-16 unit
  const std::string clef = "\xF0\x9D\x84\x9E"; // two UTF-16 units
  std::string accented, clefs;
  for (int i = 0; i < 3000; ++i) accented += e;
  for (int i = 0; i < 1500; ++i) clefs += clef;
  struct Case {
    std::string value;
    size_t units;
  } cases[] = {
      {std::string(3000, 'a'), 2047},
      {std::string(2047, 'b'), 2047},
      {"\"" + std::string(3000, 'q') + "\"", 2047},
      {accented, 2047},
      {clefs, 2046}, // a character is never split
  };
  for (const Case &c : cases) {
    Write("[S]\nk=" + c.value + "\n");
    std::string got = Read("S", "k");
    EXPECT_EQ(Utf16Length(got), c.units);
    EXPECT_EQ(c.value.find(got.substr(0, 4)) != std::string::npos, true);
  }
  EXPECT_EQ(TIniFile(Path + ".absent").ReadString("S", "k", std::string(3000, 'd')).size(), 2047u);
}

TEST_F(IniFile, EveryReadSeesTheFileAsItIsNow) {
  TIniFile ini(Path);
  Write("[WEBSERVICE]\npath=/one\n");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", ""), "/one");
  Write("[WEBSERVICE]\npath=/two\n");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", ""), "/two");
  std::remove(Path.c_str());
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", ""), "");
}

TEST_F(IniFile, ByteOrderMarks) {
  Write("\xEF\xBB\xBF[S]\nk=utf8\n");
  EXPECT_EQ(Read("S", "k"), "utf8");
  // UTF-16 little-endian with its mark: "[S]\nk=\u00e9\n"
  std::string le("\xFF\xFE", 2);
  for (char16_t ch : std::u16string(u"[S]\nk=\u00e9\n")) {
    le += char(ch & 0xFF);
    le += char(ch >> 8);
  }
  Write(le);
  EXPECT_EQ(Read("S", "k"), "\xC3\xA9");
}

TEST_F(IniFile, OversizedFileIsReadOnlyUpToTheLimit) {
  std::string text = "[S]\nfirst=yes\n";
  std::string filler = "; " + std::string(1000, 'x') + "\n";
  while (text.size() < kMaxIniFileSize) text += filler;
  text += "last=no\n";
  Write(text);
  EXPECT_EQ(Read("S", "first"), "yes");
  EXPECT_EQ(Read("S", "last"), "<default>");
}

// Anything but a regular file reads as missing, at once: a FIFO without a
// writer would block a read forever, /dev/zero would never end.
TEST_F(IniFile, NotARegularFileReadsAsMissing) {
  namespace fs = std::filesystem;
  struct Case {
    const char *name;
    std::function<void(const std::string &)> make;
  } cases[] = {
      {"fifo", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
      {"directory", [](const std::string &p) { fs::create_directory(p); }},
      {"symbolic link to /dev/zero",
       [](const std::string &p) { fs::create_symlink("/dev/zero", p); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Path);
    c.make(Path);
    EXPECT_EQ(Read("WEBSERVICE", "path"), "<default>");
    TMemIniFile ini(Path);
    EXPECT_EQ(ini.State(), TSettingsFileState::NotRegular);
    EXPECT_EQ(ini.ReadInteger("WEBSERVICE", "proxyport", 7), 7);
    fs::remove_all(Path);
  }
  EXPECT_EQ(TMemIniFile(Path).State(), TSettingsFileState::Missing);
  Write("[S]\nk=v\n");
  EXPECT_EQ(TMemIniFile(Path).State(), TSettingsFileState::Read);
}

// A relay call reads its file once: every setting comes from one version.
TEST_F(IniFile, MemIniFileReadsTheFileOnce) {
  Write("[WEBSERVICE]\npath=/one\nprotocol=http\n");
  TMemIniFile ini(Path);
  Write("[WEBSERVICE]\npath=/two\nprotocol=https\n");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "path", ""), "/one");
  EXPECT_EQ(ini.ReadString("WEBSERVICE", "protocol", ""), "http");
  EXPECT_EQ(TMemIniFile(Path).ReadString("WEBSERVICE", "path", ""), "/two");
}

// Parsing from memory follows the same rules as reading the file.
TEST_F(IniFile, FromTextMatchesTheFile) {
  const std::string texts[] = {
      "[S]\nk = 'v'\n",
      "\xEF\xBB\xBF[s]\r\nK=\"a b\"\r\n[S]\nk=second\n",
      "k=outside\n[S\nk=unclosed section\n",
      std::string("[S]\nk=nul\0inside\n", 17),
  };
  for (const std::string &t : texts) {
    Write(t);
    EXPECT_EQ(TMemIniFile::FromText(t).ReadString("S", "k", "<default>"), Read("S", "k"))
        << ::testing::PrintToString(t);
  }
}

// 'dividezurirer help' as a user meets it: the real program run as a subprocess, finding the pages
// of the build tree or of an installation, and handing one to xdg-open (a program on PATH that
// records what it was given).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dz::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

class HelpCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("dz_help_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  static std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // A stand-in xdg-open in dir_/bin that records its arguments and exits with `status`.
  void install_xdg_open(int status) {
    const fs::path script = dir_ / "bin" / "xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > "
                          << quote((dir_ / "opened").string()) << "\nexit " << status << "\n";
    fs::permissions(script, fs::perms::owner_all);
  }
  Outcome run(const std::string& program, const std::vector<std::string>& args,
              const std::string& path = "/usr/bin:/bin") {
    std::string line = "PATH=" + quote(path) + " /usr/bin/timeout 60 " + quote(program);
    for (const auto& a : args) line += " " + quote(a);
    line += " >" + quote((dir_ / "out.txt").string()) + " 2>" + quote((dir_ / "err.txt").string()) +
            " </dev/null";
    Outcome o;
    const int raw = std::system(line.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = slurp(dir_ / "out.txt");
    o.err = slurp(dir_ / "err.txt");
    return o;
  }
  static std::string program() {
    return std::string(DZ_BINARY_DIR) + "/app/programs/dividezurirer";
  }
  static std::string build_pages() {
    return fs::canonical(fs::path(DZ_BINARY_DIR) / "help" / "html").string();
  }

  fs::path dir_;
};

TEST_F(HelpCommand, PrintsWhereTheBuildTreesPagesAre) {
  Outcome o = run(program(), {"help"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, build_pages() + "/index.htm\n");
  EXPECT_TRUE(fs::is_regular_file(build_pages() + "/index.htm"));

  o = run(program(), {"help", "ConnectionJtag"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, build_pages() + "/ConnectionJtag.htm\n");
  // The topic name as the Windows help file knows it works too.
  o = run(program(), {"help", "ConnectionSerial.htm"});
  EXPECT_EQ(o.out, build_pages() + "/ConnectionSerial.htm\n");
  EXPECT_NE(slurp(o.out.substr(0, o.out.size() - 1)).find("115200"), std::string::npos);

  o = run(program(), {"help", "../../etc/passwd"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find("no topic '../../etc/passwd'"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("ConnectionJtag"), std::string::npos) << o.err;
}

TEST_F(HelpCommand, OpenHandsThePageToXdgOpenAndReportsItsFailure) {
  const std::string path = (dir_ / "bin").string() + ":/usr/bin:/bin";
  install_xdg_open(0);
  Outcome o = run(program(), {"help", "--open", "ConnectionSerial"}, path);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(slurp(dir_ / "opened"), build_pages() + "/ConnectionSerial.htm\n");

  install_xdg_open(4);
  o = run(program(), {"help", "--open"}, path);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(slurp(dir_ / "opened"), build_pages() + "/index.htm\n");
  EXPECT_NE(o.err.find("xdg-open could not open " + build_pages() + "/index.htm (exit status 4)"),
            std::string::npos)
      << o.err;

  // No xdg-open anywhere on PATH.
  o = run(program(), {"help", "--open"}, (dir_ / "empty").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cannot run xdg-open"), std::string::npos) << o.err;
}

TEST_F(HelpCommand, FindsInstalledPagesBesideTheProgram) {
  const fs::path prefix = dir_ / "usr";
  fs::create_directories(prefix / "bin");
  fs::copy_file(program(), prefix / "bin" / "dividezurirer");
  // Not installed yet: said so.
  Outcome o = run((prefix / "bin" / "dividezurirer").string(), {"help"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the help pages are not installed"), std::string::npos) << o.err;

  const fs::path pages = prefix / "share" / "doc" / "dividezurirer" / "html";
  fs::create_directories(pages);
  fs::copy(build_pages(), pages);
  o = run((prefix / "bin" / "dividezurirer").string(), {"help", "Troubleshooting"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, fs::canonical(pages).string() + "/Troubleshooting.htm\n");
}

}  // namespace
}  // namespace dz::testing

// Reading and writing the registry file: what a line may hold and what a
// save and load give back.
#include "qelcom/registry.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

using qelcom::Registry;

class RegistryText : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qelcom-regtext-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "registry").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Registry LoadText(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    return Registry::Load(path_);
  }
  std::string FileText() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(RegistryText, CommentsBlankLinesIndentationAndLineEndsAreAccepted) {
  const Registry reg = LoadText(
      "; a comment\r\n"
      "# another\n"
      "\n"
      "  [\\CLSID\\{X}\\InprocServer32\\]\r\n"
      "\t@=\"/lib/q.so\"\r\n"
      "\"ThreadingModel\"=\"Apartment\"\n"
      "\"Empty\"=\"\"\n"
      "[CLSID\\{X}\\InprocServer32]\n"
      "\"ThreadingModel\"=\"Both\"\n");
  EXPECT_EQ(reg.GetValue("CLSID\\{X}\\InprocServer32"), "/lib/q.so") << "outer backslashes are dropped";
  EXPECT_EQ(reg.GetValue("clsid\\{x}\\inprocserver32", "THREADINGMODEL"), "Both") << "a later value wins";
  EXPECT_EQ(reg.GetValue("CLSID\\{X}\\InprocServer32", "Empty"), "");
  EXPECT_FALSE(reg.GetValue("CLSID\\{X}"));
  EXPECT_FALSE(reg.HasKey("CLSID\\{X}")) << "a key line creates that key only";
}

TEST_F(RegistryText, EachMalformedLineIsReportedWithItsNumberAndWhy) {
  const struct {
    const char* text;
    int line;
    const char* why;
  } cases[] = {
      {"@=\"x\"\n", 1, "before the first key"},
      {"[A]\n[B\n", 2, "must end with ']'"},
      {"[A]\n[\\\\]\n", 2, "empty key"},
      {"[A]\nName=\"x\"\n", 2, "quoted or '@'"},
      {"[A]\n\"Name\" \"x\"\n", 2, "expected '='"},
      {"[A]\n@=x\n", 2, "must be a quoted string"},
      {"[A]\n@=\"unterminated\n", 2, "must be a quoted string"},
      {"[A]\n@=\"x\\\"\n", 2, "must be a quoted string"},
      {"[A]\n@=\"a\\qb\"\n", 2, "must be a quoted string"},  // no such escape
      {"[A]\n@=\"x\" ; comment\n", 2, "text after the value"},
      {"[A]\n\"Na\"me\"=\"x\"\n", 2, "expected '='"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      LoadText(c.text);
      ADD_FAILURE() << "expected an error";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("line " + std::to_string(c.line)), std::string::npos) << what;
      EXPECT_NE(what.find(c.why), std::string::npos) << what;
    }
  }
}

TEST_F(RegistryText, SavingWhatWasLoadedGivesTheSameFile) {
  Registry reg;
  reg.SetValue("Interface\\{A}", "", "_QelUnivariate");
  reg.SetValue("Interface\\{A}\\TypeLib", "Version", "7.0");
  reg.SetValue("Text", "quote\"and\\back", "tab\there\r\nnew line; not a comment # nor this");
  reg.SetValue("Text", "", "");
  reg.Save(path_);
  const std::string first = FileText();
  const Registry back = Registry::Load(path_);
  EXPECT_EQ(back.GetValue("Text", "quote\"and\\back"), "tab\there\r\nnew line; not a comment # nor this");
  EXPECT_EQ(back.GetValue("Text"), "") << "an empty default value is still a value";
  EXPECT_EQ(back.SubKeys("Interface\\{A}"), std::vector<std::string>{"TypeLib"});
  back.Save(path_);
  EXPECT_EQ(FileText(), first) << "a load and save round trip changes nothing";
  // Every line of the file is one entry: escapes keep values on their line.
  std::istringstream lines(first);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) ++count;
  EXPECT_EQ(count, 1 + 4 + 4) << first;  // the comment, four keys, four values
}

}  // namespace

// A folder of a test's own for the files it writes: under the test
// framework's temporary folder, named after the process, the suite and the
// running test, so that tests run side by side (ctest -j) never share one.
// It is made empty with the object and removed with it.
//
//   class MyFiles : public ::testing::Test {
//    protected:
//     qel::testing::TempFolder temp_{"my_files"};
//     const std::filesystem::path& folder_ = temp_.path();
//   };
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace qel::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix)
      : path_(std::filesystem::path(::testing::TempDir()) / (prefix + "_" + std::to_string(::getpid()) + "_" + TestName())) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  static std::string TestName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return test ? std::string(test->test_suite_name()) + "_" + test->name() : std::string("outside_a_test");
  }

  std::filesystem::path path_;
};

}  // namespace qel::testing

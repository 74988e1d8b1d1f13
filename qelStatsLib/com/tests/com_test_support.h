// What the component tests share: a registry file of their own and creation by identity.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "qelcom/qelcom.h"

namespace com_test {

// Points QEL_REGISTRY at a scratch file for the whole test program, so that no
// test ever reads or writes the user's registry.
class ScratchRegistry : public ::testing::Environment {
 public:
  explicit ScratchRegistry(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / (prefix_ + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ::setenv("QEL_REGISTRY", (dir_ / "registry").c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

 private:
  std::string prefix_;
  std::filesystem::path dir_;
};

// Creates a class by its identity and expects that to work.
template <class I>
qelcom::ComPtr<I> Create(qelcom::REFCLSID clsid, qelcom::REFIID iid) {
  qelcom::ComPtr<I> object;
  EXPECT_EQ(qelcom::CreateInstance(clsid, iid, object.out()), qelcom::S_OK);
  return object;
}

}  // namespace com_test

// A fixture that runs each test inside a fresh temporary directory, so that relative paths such
// as "backup" resolve there, as they do for the program.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test/support.h"

class InTempRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = support::CurrentDirectory();
    root_ = support::MakeTempRoot();
    support::ChangeDirectory(root_);
  }
  void TearDown() override {
    support::ChangeDirectory(saved_);
    support::RemoveTree(root_);
  }
  std::string root_;

 private:
  std::string saved_;
};

// The same, for tests that register the product: the registration goes with the directory.
class RegisteredInTempRoot : public InTempRoot {
 protected:
  void TearDown() override {
    support::Unregister();
    InTempRoot::TearDown();
  }
};

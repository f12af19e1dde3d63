// A scratch directory per test, removed afterwards, with helpers to write files into it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class scratch_dir_test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "norvane-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string &name) const { return (dir_ / name).string(); }
  std::string write(const std::string &name, const std::string &text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }
  std::string write(const std::string &name, const std::vector<unsigned char> &bytes) const {
    std::ofstream f(path(name), std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return path(name);
  }

  std::filesystem::path dir_;
};

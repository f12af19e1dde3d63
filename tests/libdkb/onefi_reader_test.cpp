// The one-file image reader: magic, checksum, section table and bounds, with the exact message
// for each refusal.
#include <gtest/gtest.h>

#include <cstdlib>

#include "onefi/onefi.h"
#include "onefi_builder.h"
#include "test_files.h"

namespace {

class OneFi : public scratch_dir_test {
 protected:
  // Runs the reader on `bytes`; returns its result, keeps its standard error in `err`.
  int read(const std::vector<unsigned char> &bytes) {
    std::string file = write("pkg.1fi", bytes);
    flashini_destroy(content);
    content = static_cast<flashini_content *>(std::calloc(1, sizeof(flashini_content)));
    testing::internal::CaptureStderr();
    int r = parse_one_1fi(content, file.c_str());
    err = testing::internal::GetCapturedStderr();
    return r;
  }
  void TearDown() override {
    flashini_destroy(content);
    scratch_dir_test::TearDown();
  }
  static onefi_builder sample() {
    onefi_builder b;
    b.image("a.bin", "Write A", std::string(1000, 'a'), 0, 0x20000).erase(0x20000, 0x40000);
    return b;
  }
  flashini_content *content = nullptr;
  std::string err;
};

TEST_F(OneFi, SoundPackageIsRead) {
  EXPECT_EQ(read(sample().bytes()), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(content->partition_info_list->no_of_partition_info, 1);
}

TEST_F(OneFi, EmptyPackageIsValid) {
  EXPECT_EQ(read(onefi_builder().bytes()), 0);
  EXPECT_EQ(content->partition_info_list->no_of_partition_info, 0);
  EXPECT_EQ(content->erase_info_list->no_of_erase_info, 0);
}

TEST_F(OneFi, MissingFile) {
  content = static_cast<flashini_content *>(std::calloc(1, sizeof(flashini_content)));
  testing::internal::CaptureStderr();
  EXPECT_NE(parse_one_1fi(content, path("nothing.1fi").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Open one file image error\n");
}

TEST_F(OneFi, ShortHeader) {
  auto bytes = sample().bytes();
  bytes.resize(491);
  EXPECT_NE(read(bytes), 0);
  EXPECT_EQ(err, "Read one file image error\n");
}

TEST_F(OneFi, MagicMustMatchInAllFortyBytes) {
  for (size_t at : {0u, 9u, 10u, 39u}) {
    auto bytes = sample().bytes();
    bytes[at] ^= 0x01;
    EXPECT_NE(read(bytes), 0) << at;
    EXPECT_EQ(err, "One file image magic number not found\n") << at;
  }
}

TEST_F(OneFi, ChecksumCoversEverythingFromByte56) {
  const auto good = sample().bytes();
  for (size_t at : {size_t(56), size_t(100), size_t(400) /* reserved */, size_t(491), size_t(492), good.size() - 1}) {
    auto bytes = good;
    bytes[at] ^= 0x80;
    EXPECT_NE(read(bytes), 0) << at;
    EXPECT_EQ(err.rfind("One file image checksum error: ", 0), 0u) << at;
  }
}

TEST_F(OneFi, ChecksumMessageShowsStoredThenComputed) {
  auto bytes = sample().bytes();
  const auto sealed = bytes;
  for (int i = 0; i < 16; ++i) bytes[ONEFI_CHECKSUM_OFFSET + i] = uint8_t(0xA0 + i);
  EXPECT_NE(read(bytes), 0);
  std::string computed;
  char hex[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", sealed[ONEFI_CHECKSUM_OFFSET + i]);
    computed += hex;
  }
  EXPECT_EQ(err, "One file image checksum error: A0A1A2A3A4A5A6A7A8A9AAABACADAEAF expected: " +
                     computed + "\n");
}

TEST_F(OneFi, SectionTableMustFitInTheFile) {
  // Counts whose table runs past the end, up to one whose size in bytes overflows 32 bits.
  for (long long count : {3LL, 1000LL, 0xFFFFFFFFLL}) {
    EXPECT_NE(read(sample().bytes(count)), 0) << count;
    EXPECT_NE(err.find("lies beyond the end of the file"), std::string::npos) << err;
    EXPECT_NE(err.find("Read file image error\n"), std::string::npos) << err;
  }
}

TEST_F(OneFi, ImageDataMustLieInTheFile) {
  onefi_builder b = sample();
  b.sections[0].body.image.size = 5000;  // data holds 1000 bytes
  EXPECT_NE(read(b.bytes()), 0);
  EXPECT_NE(err.find("section 1 of 2 (a.bin)"), std::string::npos) << err;
  EXPECT_NE(err.find("runs past the end of the file"), std::string::npos) << err;

  b = sample();
  b.sections[0].body.image.size = 0x80000000u;  // top bit set
  EXPECT_NE(read(b.bytes()), 0);
  EXPECT_NE(err.find("runs past the end of the file"), std::string::npos) << err;
}

TEST_F(OneFi, ZeroSizeImageMeansRestOfFile) {
  onefi_builder b = sample();
  b.sections[0].body.image.size = 0;
  EXPECT_EQ(read(b.bytes()), 0) << err;
  EXPECT_EQ(content->partition_info_list->info[0].file_size, 0);
}

TEST_F(OneFi, DescriptionOfSixtyCharactersIsTakenWhole) {
  onefi_builder b;
  std::memset(b.header.description, 'D', sizeof b.header.description);
  EXPECT_EQ(read(b.bytes()), 0);
  EXPECT_EQ(std::string(content->one_file_image_description), std::string(60, 'D'));
}

TEST_F(OneFi, TextsFillingTheirFieldsAreTerminated) {
  onefi_builder b;
  b.image(std::string(4096, 'f'), std::string(256, 'd'), "x", 0, 1);
  EXPECT_EQ(read(b.bytes()), 0);
  EXPECT_EQ(std::string(content->partition_info_list->info[0].original_filename), std::string(4095, 'f'));
  EXPECT_EQ(std::string(content->partition_info_list->info[0].desc), std::string(255, 'd'));
}

}  // namespace

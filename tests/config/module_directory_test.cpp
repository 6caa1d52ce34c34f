// Finding the INI file beside the module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/module_directory.h"
#include "config/stream_configuration.h"
#include "support/temp_dir.h"

namespace qp::config {
namespace {

std::string DirectoryOf(const char* path) {
  char dest[platform::kMaxPath];
  DirectoryOfPath(path, dest, sizeof dest);
  return dest;
}

TEST(ModuleDirectory, DirectoryLosesItsTrailingSeparator) {
#ifdef _WIN32
  EXPECT_EQ(DirectoryOf("C:\\filters\\x.ax"), "C:\\filters");
  EXPECT_EQ(DirectoryOf("C:\\x.ax"), "C:");
  EXPECT_EQ(DirectoryOf("C:x.ax"), "C:");
  EXPECT_EQ(DirectoryOf("Z:/work/build/x.ax"), "Z:/work/build");
  EXPECT_EQ(DirectoryOf("\\\\server\\share\\x.ax"), "\\\\server\\share");
#else
  EXPECT_EQ(DirectoryOf("/opt/filters/x.so"), "/opt/filters");
  EXPECT_EQ(DirectoryOf("/x.so"), "");
#endif
  EXPECT_EQ(DirectoryOf("x.ax"), "");
  char small[4];
  DirectoryOfPath("abcdef/x", small, sizeof small);
  EXPECT_STREQ(small, "abc");
}

TEST(ModuleDirectory, OwnModuleIsTheProgramHoldingThisCode) {
  char dest[platform::kMaxPath];
  ModuleDirectory(dest, platform::OwnModule());
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(dest),
                                          std::filesystem::current_path(), error) ||
              std::filesystem::exists(std::filesystem::path(dest) / "config_tests.exe") ||
              std::filesystem::exists(std::filesystem::path(dest) / "config_tests"))
      << dest;
}

// The configuration is read from the directory of the module, under its fixed name.
TEST(ModuleDirectory, ConfigurationIsReadBesideTheModule) {
  char directory[platform::kMaxPath];
  ModuleDirectory(directory, platform::OwnModule());
  std::filesystem::path ini = std::filesystem::path(directory) / kIniFileName;
  ASSERT_FALSE(std::filesystem::exists(ini)) << "a stray " << ini.string();
  {
    std::ofstream out(ini, std::ios::binary);
    out << "[MAIN]\nbuff_num=5\n[PRESET_01]\nenable=1\nw=1280\nh=720\n";
  }
  StreamConfiguration config;
  bool loaded = config.LoadConfiguration();
  std::filesystem::remove(ini);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(config.buff_num, 5);
  EXPECT_EQ(config.presets[0].w, 1280);
  EXPECT_EQ(config.presets[0].h, 720);
}

}  // namespace
}  // namespace qp::config

// The effect module as a guest in other programs: it names only the C/C++ runtime and the
// renderer's own library, and without a Vulkan loader it still loads and renders on the CPU.
#include <dlfcn.h>
#include <link.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/support/elf_needed.h"
#include "tests/support/program_runner.h"

namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string companionPath() {
  return (std::filesystem::path(VORTELLINE_MODULE_PATH).parent_path() / "VortellineAbout.so").string();
}

TEST(LightModule, NamesOnlyTheRuntimeAndTheRenderersLibrary) {
  // By name without the version: Highway is the SIMD renderer's run-time dispatch, and a
  // sanitized build adds its sanitizers' runtimes.
  const std::set<std::string> allowed{"libc",  "libm",       "libstdc++", "libgcc_s", "ld-linux-x86-64",
                                      "libdl", "libpthread", "libhwy",    "libasan",  "libubsan"};
  const std::vector<std::string> needed = neededLibraries(VORTELLINE_MODULE_PATH);
  EXPECT_FALSE(needed.empty());
  for (const std::string& library : needed) {
    EXPECT_TRUE(allowed.count(library.substr(0, library.find(".so")))) << library;
  }
  // The dialog's Qt is the companion's, beside the module.
  const std::vector<std::string> companion = neededLibraries(companionPath());
  EXPECT_NE(std::find(companion.begin(), companion.end(), "libQt6Widgets.so.6"), companion.end());
}

// The loader's file as the dynamic linker finds it, with symbolic links resolved.
std::string vulkanLoaderFile() {
  void* loader = dlopen("libvulkan.so.1", RTLD_NOW | RTLD_LOCAL);
  if (loader == nullptr) return "";
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(loader, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) path = std::filesystem::canonical(map->l_name);
  dlclose(loader);
  return path;
}

// Renders in a mount namespace of its own where an empty file lies over the Vulkan loader, so
// opening it fails as on a machine without one. Needs the right to make mount namespaces.
TEST(LightModule, WithoutTheVulkanLoaderAutoRendersOnTheCpuAndGpuRequiredSaysSo) {
  const std::string loader = vulkanLoaderFile();
  if (loader.empty()) GTEST_SKIP() << "no Vulkan loader installed to hide";
  const std::string folder = makeScratchFolder();
  std::ofstream(folder + "/empty").close();
  setenv("VORTELLINE_GPU_ALLOW_SOFTWARE", "1", 1);
  const std::vector<std::string> frame{"-q", "--size", "64x36", "--frames", "0", "--set", "Quality=Draft (64)"};
  auto render = [&](const std::string& processing, const std::string& output) {
    std::vector<std::string> arguments{"render"};
    arguments.insert(arguments.end(), frame.begin(), frame.end());
    arguments.insert(arguments.end(), {"--processing", processing, "-o", folder + "/" + output});
    return arguments;
  };
  auto renderWithoutLoader = [&](const std::string& processing, const std::string& output) {
    const std::string command = "mount --bind \"$0\" \"$1\" && shift && exec \"$@\"";
    std::vector<std::string> words{"unshare", "-m", "sh", "-c", command, folder + "/empty", loader};
    for (const std::string& word : programCommand(render(processing, output))) words.push_back(word);
    return runCommand(words, folder);
  };
  const ProgramRun probe = runCommand({"unshare", "-m", "true"}, folder);
  if (probe.exitCode != 0) GTEST_SKIP() << "cannot make a mount namespace here: " << probe.err;

  const ProgramRun cpu = runProgram(render("cpu", "cpu.png"), folder);
  ASSERT_EQ(cpu.exitCode, 0) << cpu.err;
  const ProgramRun automatic = renderWithoutLoader("auto", "auto.png");
  ASSERT_EQ(automatic.exitCode, 0) << automatic.err;
  EXPECT_EQ(fileBytes(folder + "/auto.png"), fileBytes(folder + "/cpu.png"));
  const ProgramRun required = renderWithoutLoader("gpu", "gpu.png");
  EXPECT_NE(required.exitCode, 0);
  EXPECT_NE(required.err.find("No hardware GPU available"), std::string::npos) << required.err;
  // With the loader in place the same command finds the software device: the failure above is
  // the missing loader's.
  const ProgramRun withLoader = runProgram(render("gpu", "gpu.png"), folder);
  EXPECT_EQ(withLoader.exitCode, 0) << withLoader.err;
  unsetenv("VORTELLINE_GPU_ALLOW_SOFTWARE");
}

}  // namespace

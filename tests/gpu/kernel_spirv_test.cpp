#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <unistd.h>

#include "gpu/flame_kernel_spirv.h"

namespace {

std::string disassemble(const uint32_t* words, size_t count) {
  // A name of this run's own, so that concurrent runs of the suite do not read each other's file.
  std::string file = (std::filesystem::temp_directory_path() / "vortelline_kernel_check-XXXXXX").string();
  const int descriptor = mkstemp(file.data());
  if (descriptor < 0) return "cannot make a temporary file";
  close(descriptor);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(words), std::streamsize(count * 4));
  std::string text;
  FILE* pipe = popen(("spirv-dis --raw-id " + file + " 2>&1").c_str(), "r");
  char chunk[4096];
  for (size_t n; pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  if (pipe != nullptr) pclose(pipe);
  std::filesystem::remove(file);
  return text;
}

// Real GPUs fuse any a*b+c they may; the CPU renderer never does. So every float add, subtract,
// multiply and divide of the embedded kernel must forbid it, and no fused multiply-add may remain.
TEST(KernelSpirv, EveryFloatOperationRoundsOnItsOwn) {
  struct Case {
    const char* name;
    const uint32_t* words;
    size_t count;
  };
  const Case cases[] = {
      {"device exponential", flameKernelSpirv, flameKernelSpirvWords},
      {"CPU exponential in double", flameKernelDoubleExpSpirv, flameKernelDoubleExpSpirvWords},
  };
  const std::regex decoration(R"(OpDecorate %(\d+) NoContraction)");
  const std::regex operation(R"(%(\d+) = Op(FAdd|FSub|FMul|FDiv) )");
  for (const Case& c : cases) {
    const std::string text = disassemble(c.words, c.count);
    ASSERT_NE(text.find("OpEntryPoint GLCompute"), std::string::npos) << c.name << ": " << text.substr(0, 200);
    std::set<std::string> marked;
    for (std::sregex_iterator it(text.begin(), text.end(), decoration), end; it != end; ++it) {
      marked.insert((*it)[1]);
    }
    int operations = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), operation), end; it != end; ++it) {
      ++operations;
      EXPECT_EQ(marked.count((*it)[1]), 1u) << c.name << ": " << it->str() << " may be fused";
    }
    EXPECT_GT(operations, 1000) << c.name;
    EXPECT_EQ(text.find(" Fma "), std::string::npos) << c.name;
  }
}

}  // namespace

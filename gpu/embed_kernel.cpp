// Build step for the flame kernel: makes every floating-point operation of a SPIR-V module round
// on its own, as the CPU renderer does, and writes the module out as a .spv file and a C++ array.
//
// The HLSL front end of glslang turns every a*b+c whose result is not `precise` into one fused
// multiply-add, and `precise` reaches only operations whose result is assigned to a precise
// variable, not those inside call arguments, returns or constructors. So this step splits each
// fused multiply-add back into a multiply and an add (exact: that is the order the source
// wrote), and marks every add, subtract, multiply and divide NoContraction so that neither an
// optimiser nor a driver fuses them again.
//
// usage: vortelline_embed_kernel input.spv output.spv output.cpp symbolName
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x07230203;
constexpr int kHeaderWords = 5;
constexpr uint32_t kOpExtInstImport = 11;
constexpr uint32_t kOpExtInst = 12;
constexpr uint32_t kOpDecorate = 71;
constexpr uint32_t kDecorationNoContraction = 42;
constexpr uint32_t kGlslFma = 50;
constexpr uint32_t kOpFAdd = 129;
constexpr uint32_t kOpFSub = 131;
constexpr uint32_t kOpFMul = 133;
constexpr uint32_t kOpFDiv = 136;
constexpr uint32_t kOpVectorTimesScalar = 142;
const std::set<uint32_t> kFloatArithmetic = {kOpFAdd, kOpFSub, kOpFMul, kOpFDiv, kOpVectorTimesScalar};
// Annotations must precede the first type declaration, which follows them in the module layout.
const std::set<uint32_t> kBeforeTypes = {
    1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 14, 15, 16, 17, 71, 72, 73, 74, 75, 330, 331, 332, 5632, 5633,
};

[[noreturn]] void fail(const std::string& message) {
  std::cerr << "vortelline_embed_kernel: " << message << "\n";
  std::exit(1);
}

std::vector<uint32_t> readWords(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) fail(std::string("cannot read ") + path);
  if (bytes.size() % 4 != 0 || bytes.size() < kHeaderWords * 4) fail("not a SPIR-V module");
  std::vector<uint32_t> words(bytes.size() / 4);
  std::memcpy(words.data(), bytes.data(), bytes.size());
  if (words[0] != kMagic) fail("not a SPIR-V module");
  return words;
}

uint32_t instruction(uint32_t wordCount, uint32_t opcode) { return (wordCount << 16) | opcode; }

std::vector<uint32_t> separateRoundings(const std::vector<uint32_t>& words) {
  std::vector<uint32_t> header(words.begin(), words.begin() + kHeaderWords);
  uint32_t& idBound = header[3];
  std::vector<uint32_t> preamble;
  std::vector<uint32_t> body;
  std::set<uint32_t> glslImports;
  std::set<uint32_t> alreadyMarked;
  std::vector<uint32_t> toMark;
  for (size_t at = kHeaderWords; at < words.size();) {
    const uint32_t opcode = words[at] & 0xffff;
    const uint32_t count = words[at] >> 16;
    if (count == 0 || at + count > words.size()) fail("malformed instruction");
    const uint32_t* operand = &words[at];
    std::vector<uint32_t>& section = body.empty() && kBeforeTypes.count(opcode) != 0 ? preamble : body;
    if (opcode == kOpExtInstImport &&
        std::string(reinterpret_cast<const char*>(operand + 2), (count - 2) * 4).c_str() ==
            std::string("GLSL.std.450")) {
      glslImports.insert(operand[1]);
    } else if (opcode == kOpDecorate && count == 3 && operand[2] == kDecorationNoContraction) {
      alreadyMarked.insert(operand[1]);
    } else if (kFloatArithmetic.count(opcode) != 0) {
      toMark.push_back(operand[2]);
    } else if (opcode == kOpExtInst && count == 8 && glslImports.count(operand[3]) != 0 &&
               operand[4] == kGlslFma) {
      // result = fma(a, b, c) becomes product = a * b; result = product + c.
      const uint32_t type = operand[1];
      const uint32_t result = operand[2];
      const uint32_t product = idBound++;
      section.insert(section.end(), {instruction(5, kOpFMul), type, product, operand[5], operand[6]});
      section.insert(section.end(), {instruction(5, kOpFAdd), type, result, product, operand[7]});
      toMark.insert(toMark.end(), {product, result});
      at += count;
      continue;
    }
    section.insert(section.end(), operand, operand + count);
    at += count;
  }
  std::vector<uint32_t> out = header;
  out.insert(out.end(), preamble.begin(), preamble.end());
  for (uint32_t id : toMark) {
    if (alreadyMarked.count(id) == 0) {
      out.insert(out.end(), {instruction(3, kOpDecorate), id, kDecorationNoContraction});
    }
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void writeModule(const std::vector<uint32_t>& words, const char* path) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(words.data()), std::streamsize(words.size() * 4));
  if (!out) fail(std::string("cannot write ") + path);
}

void writeSource(const std::vector<uint32_t>& words, const char* path, const std::string& symbol) {
  std::ofstream out(path);
  out << "// Generated by vortelline_embed_kernel; do not edit.\n#include <cstddef>\n#include <cstdint>\n\n"
      << "extern const uint32_t " << symbol << "[] = {";
  for (size_t i = 0; i < words.size(); ++i) {
    out << (i % 8 == 0 ? "\n   " : "") << " 0x" << std::hex << words[i] << std::dec << "u,";
  }
  out << "\n};\nextern const size_t " << symbol << "Words = " << words.size() << ";\n";
  if (!out) fail(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) fail("usage: vortelline_embed_kernel input.spv output.spv output.cpp symbolName");
  const std::vector<uint32_t> module = separateRoundings(readWords(argv[1]));
  writeModule(module, argv[2]);
  writeSource(module, argv[3], argv[4]);
  return 0;
}

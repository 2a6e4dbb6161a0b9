// Build step: turns the banner picture (a PNG) into the C++ array the module stores.
//   embed_banner BANNER.png OUTPUT.cpp
// Refuses a picture that is not 960 x 240, opaque and grey, so a bad edit fails the build instead
// of showing up in a host's panel.
#include <png.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ui/banner_image.h"

namespace {

bool fail(const std::string& message) {
  std::fprintf(stderr, "embed_banner: %s\n", message.c_str());
  return false;
}

bool readBanner(const char* path, std::vector<uint8_t>& bgra) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return fail(std::string(path) + ": " + image.message);
  if (image.width != unsigned(bannerWidth) || image.height != unsigned(bannerHeight)) {
    png_image_free(&image);
    return fail(std::string(path) + " is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                " pixels; the banner is " + std::to_string(bannerWidth) + " x " + std::to_string(bannerHeight));
  }
  image.format = PNG_FORMAT_BGRA;
  bgra.resize(bannerImageBytes);
  if (!png_image_finish_read(&image, nullptr, bgra.data(), bannerRowBytes, nullptr)) {
    return fail(std::string(path) + ": " + image.message);
  }
  for (size_t i = 0; i < bgra.size(); i += 4) {
    if (bgra[i] != bgra[i + 1] || bgra[i] != bgra[i + 2] || bgra[i + 3] != 255) {
      const size_t pixel = i / 4;
      return fail(std::string(path) + ": pixel (" + std::to_string(pixel % bannerWidth) + ", " +
                  std::to_string(pixel / bannerWidth) + ") is not opaque grey");
    }
  }
  return true;
}

bool writeArray(const char* path, const std::vector<uint8_t>& bgra) {
  std::ofstream out(path, std::ios::binary);
  out << "// Generated from ui/artwork/banner.png by embed_banner; do not edit.\n"
         "#include \"ui/banner_image.h\"\n\n"
         "const uint8_t bannerImage[bannerImageBytes] = {\n";
  for (size_t i = 0; i < bgra.size(); ++i) {
    out << unsigned(bgra[i]) << (i % 32 == 31 ? ",\n" : ",");
  }
  out << "};\n";
  out.close();
  return out ? true : fail(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: embed_banner BANNER.png OUTPUT.cpp") ? 0 : 2;
  std::vector<uint8_t> bgra;
  return readBanner(argv[1], bgra) && writeArray(argv[2], bgra) ? 0 : 1;
}

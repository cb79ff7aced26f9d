// A PNG file's pixels as libpng reads them, for the tests of the files the stick keeps.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

struct PngPixels {
  std::string Fault;  // libpng's complaint; empty when the file was read
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint32_t> Colours;  // 0xRRGGBB, row by row from the top

  uint32_t At(uint32_t X, uint32_t Y) const { return Colours[(size_t)Y * Width + X]; }
};

inline PngPixels ReadPngPixels(const std::vector<uint8_t> &File) {
  PngPixels Read;
  png_image Image = {};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&Image, File.data(), File.size())) {
    Read.Fault = Image.message;
    return Read;
  }
  Image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> Rgb(PNG_IMAGE_SIZE(Image));
  if (!png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr)) {
    Read.Fault = Image.message;
    return Read;
  }
  Read.Width = Image.width;
  Read.Height = Image.height;
  for (size_t At = 0; At + 3 <= Rgb.size(); At += 3) Read.Colours.push_back(Rgb[At] << 16 | Rgb[At + 1] << 8 | Rgb[At + 2]);
  return Read;
}

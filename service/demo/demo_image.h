#pragma once

#include <cstdint>
#include <string>

namespace corvane::demo {

// A small PNG picture (8-bit RGB, no interlace) for the demo records' image attachment, made
// here so that the seed needs no image library and no file of its own.
std::string makeDemoPng(uint32_t width, uint32_t height);

}  // namespace corvane::demo

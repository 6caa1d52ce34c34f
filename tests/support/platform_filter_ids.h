// Class ids of the platform's sample grabber and null renderer, which no mingw-w64 header or
// import library names.
#pragma once

#include <windows.h>

namespace qp::test {

inline constexpr CLSID kSampleGrabberClassId = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
inline constexpr CLSID kNullRendererClassId = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

}  // namespace qp::test

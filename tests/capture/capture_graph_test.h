// The capture tests' start: COM on the test thread, the files placed beside the module, and
// the module's filter connected straight to the sample grabber and the null renderer.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "capture/capture_harness.h"

namespace qp::test {

class CaptureGraphTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  // The test background of `width` × `height` as qp_bg.bmp and the test glyph sheet as
  // qp_font.bmp, the names OnePresetIni gives.
  void PlacePictures(int width, int height) {
    files_.Background("qp_bg.bmp", width, height);
    files_.GlyphSheet("qp_font.bmp");
  }
  // A filter made from the files now in place, in `graph` with the grabber calling `log`.
  static void Connect(ComPtr<IBaseFilter>& source, GrabberGraph& graph, SampleLog& log) {
    ASSERT_EQ(S_OK, CreateSource(source));
    ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
    ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));
  }

  ModuleFiles files_;
};

}  // namespace qp::test

// The header line's clock as the stream chooses it at start-up.
#include <gtest/gtest.h>

#include "support/stream_test_doubles.h"

namespace qp::stream::test {
namespace {

// The graph's stream time paces the stream only when auto_clock asks for it and the graph had
// a clock at start-up.
TEST(HeaderLine, ClockChosenAtStartUp) {
  struct Case {
    const char* main;
    bool graph_clock;
    const char* expected;
  };
  const Case cases[] = {
      {"auto_clock=0\n", true, "320x240p RG24 #rCPU Clock #g"},
      {"auto_clock=1\n", true, "320x240p RG24 #rStream Time #g"},
      {"auto_clock=1\n", false, "320x240p RG24 #rCPU Clock #g"},
  };
  for (const Case& c : cases) {
    StreamRig rig("w=320\nh=240\nfcc=RG24\n", c.main);
    rig.services.has_clock = c.graph_clock;
    rig.Start();
    EXPECT_STREQ(rig.pin->header_line(), c.expected) << c.main << c.graph_clock;
  }
}

}  // namespace
}  // namespace qp::stream::test

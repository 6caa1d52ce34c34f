// Commands a control thread posts to a stream's worker thread.
#pragma once

#include <cstdint>

namespace qp::framework {

enum StreamCommand : int32_t {
  CommandInit = 0,   // run the stream start-up
  CommandPause = 1,  // start or resume the stream loop
  CommandRun = 2,
  CommandStop = 3,  // leave the stream loop
  CommandExit = 4,  // end the thread
};

}  // namespace qp::framework

// The worker thread and its mailbox: calls in the wrong state, what the worker sees of a posted
// command, senders racing each other, and workers that end without answering.
#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "framework/worker_thread.h"

namespace qp::framework {
namespace {

constexpr int kLimitMs = 5000;

// `call` on a thread of its own, started at once; Get waits for its result. A call that does
// not return within the limit ends the whole program as a failure: its thread still uses
// objects the test would go on to destroy.
// Plain Win32 threads and a timed wait on the thread handle: a detached std::thread can race
// its own exit in winpthreads (pthread_detach then fails with ESRCH, or the ending thread spins
// in its key destructors under the loader lock and no new thread can start).
template <typename Call>
class TimedCall {
  using Result = decltype(std::declval<Call&>()());
  using Stored = std::conditional_t<std::is_void_v<Result>, char, Result>;

 public:
  explicit TimedCall(Call call) : call_(std::move(call)) {
    thread_ = CreateThread(nullptr, 0, &TimedCall::Run, this, 0, nullptr);
  }
  ~TimedCall() {
    if (thread_) Wait("an unfinished call");
  }
  TimedCall(const TimedCall&) = delete;
  TimedCall& operator=(const TimedCall&) = delete;

  Result Get(const char* what) {
    Wait(what);
    if constexpr (!std::is_void_v<Result>) return std::move(result_);
  }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* call = static_cast<TimedCall*>(self);
    if constexpr (std::is_void_v<Result>) {
      call->call_();
    } else {
      call->result_ = call->call_();
    }
    return 0;
  }
  void Wait(const char* what) {
    if (!thread_) Fail(what, "could not be started");
    if (WaitForSingleObject(thread_, kLimitMs) != WAIT_OBJECT_0) Fail(what, "did not return");
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  [[noreturn]] static void Fail(const char* what, const char* how) {
    std::fprintf(stderr, "FAILED: %s %s within %d ms\n", what, how, kLimitMs);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  }

  Call call_;
  Stored result_{};
  HANDLE thread_ = nullptr;
};

template <typename Call>
auto Within(const char* what, Call call) {
  return TimedCall<Call>(std::move(call)).Get(what);
}

bool WaitUntil(const std::function<bool()>& condition) {
  for (int waited = 0; waited < kLimitMs; ++waited) {
    if (condition()) return true;
    Sleep(1);
  }
  return condition();
}

// A success code that carries the command it answers.
HRESULT ReplyFor(StreamCommand command) { return MAKE_HRESULT(0, 0x77, command); }

// A worker whose body the test writes; `runs` counts the bodies started.
class ScriptedWorker : public WorkerThread {
 public:
  using Body = std::function<DWORD(ScriptedWorker&)>;
  explicit ScriptedWorker(Body body) : body_(std::move(body)) {}
  ~ScriptedWorker() override {
    Within("joining the worker", [this] { JoinThread(); });
  }

  using WorkerThread::AnswerCommand;
  using WorkerThread::PeekCommand;
  using WorkerThread::WaitCommand;
  using WorkerThread::WaitCommandFor;

  std::atomic<int> runs{0};

 protected:
  DWORD ThreadMain() override {
    ++runs;
    return body_(*this);
  }

 private:
  Body body_;
};

TEST(WorkerThreadState, NoSecondThreadUntilTheEndedOneIsJoined) {
  ScriptedWorker worker([](ScriptedWorker&) { return 0ul; });
  EXPECT_EQ(Within("send", [&] { return worker.SendCommand(CommandInit); }), E_FAIL);
  Within("join", [&] { worker.JoinThread(); });

  ASSERT_TRUE(worker.StartThread());
  ASSERT_TRUE(WaitUntil([&] { return worker.runs == 1; }));
  EXPECT_FALSE(worker.StartThread());
  Within("join", [&] { worker.JoinThread(); });
  EXPECT_FALSE(worker.HasThread());
  EXPECT_EQ(worker.runs, 1);

  ASSERT_TRUE(worker.StartThread());
  ASSERT_TRUE(WaitUntil([&] { return worker.runs == 2; }));
}

TEST(WorkerThreadMailbox, PostedCommandStaysVisibleUntilAnswered) {
  constexpr auto kUntouched = static_cast<StreamCommand>(0x55);
  StreamCommand before = kUntouched, waited = kUntouched, first = kUntouched, second = kUntouched;
  bool seen_before = true, seen_first = false, seen_second = false, seen_after = true;
  std::atomic<bool> peeked_empty{false};
  ScriptedWorker worker([&](ScriptedWorker& self) {
    seen_before = self.PeekCommand(&before);
    peeked_empty = true;
    waited = self.WaitCommand();
    seen_first = self.PeekCommand(&first);
    seen_second = self.PeekCommand(&second);
    self.AnswerCommand(ReplyFor(waited));
    seen_after = self.PeekCommand(nullptr);
    return 0ul;
  });
  ASSERT_TRUE(worker.StartThread());
  ASSERT_TRUE(WaitUntil([&] { return peeked_empty.load(); }));
  EXPECT_EQ(Within("send", [&] { return worker.SendCommand(CommandRun); }), ReplyFor(CommandRun));
  Within("join", [&] { worker.JoinThread(); });

  EXPECT_FALSE(seen_before);
  EXPECT_EQ(before, kUntouched);
  EXPECT_EQ(waited, CommandRun);
  EXPECT_TRUE(seen_first && seen_second);
  EXPECT_EQ(first, CommandRun);
  EXPECT_EQ(second, CommandRun);
  EXPECT_FALSE(seen_after);
}

// A timed wait ends empty when nothing comes, and at once when a command is posted during it,
// however long it was meant to last.
TEST(WorkerThreadMailbox, TimedWaitEndsWhenACommandIsPosted) {
  bool empty = true, got = false;
  StreamCommand command = CommandInit;
  std::atomic<bool> waiting{false};
  ScriptedWorker worker([&](ScriptedWorker& self) {
    empty = self.WaitCommandFor(1000, nullptr);
    waiting = true;
    // A wait may end early without a command; the stop must still come through one.
    for (int tries = 0; !got && tries < 1000; ++tries)
      got = self.WaitCommandFor(int64_t{10} * kLimitMs * 1000, &command);
    self.AnswerCommand(ReplyFor(command));
    return 0ul;
  });
  ASSERT_TRUE(worker.StartThread());
  ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
  EXPECT_EQ(Within("send during a long wait", [&] { return worker.SendCommand(CommandStop); }),
            ReplyFor(CommandStop));
  Within("join", [&] { worker.JoinThread(); });
  EXPECT_FALSE(empty);
  EXPECT_TRUE(got);
  EXPECT_EQ(command, CommandStop);
}

// Two control threads send at once; the second must neither overwrite the command in flight
// nor take the first one's reply.
TEST(WorkerThreadMailbox, ConcurrentSendersEachGetTheirOwnReply) {
  std::atomic<int> senders_started{0};
  StreamCommand taken[2] = {CommandInit, CommandInit};
  StreamCommand slot_while_held = CommandInit;
  ScriptedWorker worker([&](ScriptedWorker& self) {
    taken[0] = self.WaitCommand();
    WaitUntil([&] { return senders_started == 2; });
    Sleep(20);  // lets the other sender reach SendCommand
    self.PeekCommand(&slot_while_held);
    self.AnswerCommand(ReplyFor(taken[0]));
    taken[1] = self.WaitCommand();
    self.AnswerCommand(ReplyFor(taken[1]));
    return 0ul;
  });
  ASSERT_TRUE(worker.StartThread());

  auto send = [&](StreamCommand command) {
    ++senders_started;
    return worker.SendCommand(command);
  };
  TimedCall pause([&] { return send(CommandPause); });
  TimedCall run([&] { return send(CommandRun); });
  EXPECT_EQ(pause.Get("pause sender"), ReplyFor(CommandPause));
  EXPECT_EQ(run.Get("run sender"), ReplyFor(CommandRun));
  Within("join", [&] { worker.JoinThread(); });

  EXPECT_EQ(slot_while_held, taken[0]);
  EXPECT_NE(taken[0], taken[1]);
  for (StreamCommand command : taken) EXPECT_TRUE(command == CommandPause || command == CommandRun);
}

// A worker that ends without answering, or has ended before the send, releases its sender
// with a failure; the withdrawn command does not reach the next thread.
TEST(WorkerThreadEnded, SendFailsInsteadOfHanging) {
  bool next_thread_saw_command = true;
  ScriptedWorker worker([&](ScriptedWorker& self) {
    if (self.runs == 1) {
      self.WaitCommand();
    } else {
      next_thread_saw_command = self.PeekCommand(nullptr);
    }
    return 0ul;
  });
  ASSERT_TRUE(worker.StartThread());
  EXPECT_EQ(Within("send", [&] { return worker.SendCommand(CommandInit); }), E_FAIL);
  Within("join", [&] { worker.JoinThread(); });

  ASSERT_TRUE(worker.StartThread());
  ASSERT_TRUE(WaitUntil([&] { return worker.runs == 2; }));
  EXPECT_EQ(Within("send", [&] { return worker.SendCommand(CommandStop); }), E_FAIL);
  EXPECT_FALSE(next_thread_saw_command);
}

TEST(WorkerThreadEntry, ThreadMainRunsInMultithreadedApartment) {
  APTTYPE type = APTTYPE_STA;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  HRESULT queried = E_FAIL;
  ScriptedWorker worker([&](ScriptedWorker&) {
    queried = CoGetApartmentType(&type, &qualifier);
    return 0ul;
  });
  ASSERT_TRUE(worker.StartThread());
  Within("join", [&] { worker.JoinThread(); });
  EXPECT_EQ(queried, S_OK);
  EXPECT_EQ(type, APTTYPE_MTA);
}

}  // namespace
}  // namespace qp::framework

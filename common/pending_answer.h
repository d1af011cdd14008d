#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// Work on a thread of its own whose caller waits for its answer only until a
// deadline, for the system calls that nothing else bounds. Past the deadline
// the thread is left behind, so the work must own everything it touches:
// copies, handles of its own, and the answer, which it shares with the caller.

template <typename Answer>
struct AnswerSlot {
  std::mutex mutex;
  std::condition_variable given;
  bool ready = false;
  Answer answer{};
};
template <typename Answer>
using PendingAnswer = std::shared_ptr<AnswerSlot<Answer>>;

// Starts `work` (a callable returning the Answer) on a thread of its own;
// null when no thread can be started.
template <typename Answer, typename Work>
PendingAnswer<Answer> StartPendingAnswer(Work work) {
  auto slot = std::make_shared<AnswerSlot<Answer>>();
  try {
    std::thread([slot, work = std::move(work)]() mutable {
      Answer answer = work();
      const std::lock_guard<std::mutex> lock(slot->mutex);
      slot->answer = std::move(answer);
      slot->ready = true;
      slot->given.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return slot;
}

// The answer once it is in, or `late` when there is no work or no answer by `deadline`.
template <typename Answer>
Answer AwaitPendingAnswer(const PendingAnswer<Answer>& pending,
                          std::chrono::steady_clock::time_point deadline, Answer late) {
  if (!pending) return late;
  std::unique_lock<std::mutex> lock(pending->mutex);
  return pending->given.wait_until(lock, deadline, [&] { return pending->ready; }) ? pending->answer
                                                                                   : late;
}

// Work run on several threads and taken back on the calling thread in the
// order it was posted: what a command shows, and the failure it stops at,
// stay as one thread would have them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zlbtool {

class TOrderedWork {
 public:
  // Work is told when the pool is going away, so that it may stop early.
  using TWork = std::function<void(const std::atomic<bool>& Stopping)>;

  explicit TOrderedWork(unsigned Threads) {
    for (unsigned I = 0; I < Threads; ++I)
      FWorkers.emplace_back([this] { Serve(); });
  }
  // Work not yet begun is dropped; work running is told to stop and waited
  // for, so that nothing it uses goes first.
  ~TOrderedWork() {
    {
      const std::lock_guard Lock(FLock);
      FStopping = true;
      FQueue.clear();
    }
    FWorkWake.notify_all();
    FWorkers.clear();
  }
  TOrderedWork(const TOrderedWork&) = delete;
  TOrderedWork& operator=(const TOrderedWork&) = delete;

  void Post(TWork Work) {
    {
      const std::lock_guard Lock(FLock);
      FSlots.push_back(std::make_unique<TSlot>(std::move(Work)));
      FQueue.push_back(FSlots.back().get());
    }
    FWorkWake.notify_one();
  }
  // Waits for the oldest work not yet taken back to end, and takes it back:
  // what it raised, or null. Waiting, when given, runs on this thread about
  // ten times a second meanwhile.
  std::exception_ptr TakeOldest(const std::function<void()>& Waiting = {}) {
    std::unique_lock Lock(FLock);
    TSlot& Oldest = *FSlots.front();
    const auto Ended = [&Oldest] { return Oldest.Ended; };
    while (!Ended()) {
      if (!Waiting) {
        FTakerWake.wait(Lock, Ended);
        break;
      }
      if (FTakerWake.wait_for(Lock, std::chrono::milliseconds(100), Ended)) break;
      Lock.unlock();
      Waiting();
      Lock.lock();
    }
    std::exception_ptr Failure = std::move(Oldest.Failure);
    FSlots.pop_front();
    return Failure;
  }

 private:
  struct TSlot {
    explicit TSlot(TWork W) : Work(std::move(W)) {}
    TWork Work;
    bool Ended = false;
    std::exception_ptr Failure;
  };

  void Serve() {
    for (;;) {
      TSlot* Slot;
      {
        std::unique_lock Lock(FLock);
        FWorkWake.wait(Lock, [this] { return FStopping || !FQueue.empty(); });
        if (FStopping) return;
        Slot = FQueue.front();
        FQueue.pop_front();
      }
      try {
        Slot->Work(FStopping);
      } catch (...) {
        Slot->Failure = std::current_exception();
      }
      {
        const std::lock_guard Lock(FLock);
        Slot->Ended = true;
      }
      FTakerWake.notify_one();
    }
  }

  mutable std::mutex FLock;
  std::condition_variable FWorkWake;   // work was posted, or the pool goes
  std::condition_variable FTakerWake;  // work ended
  std::atomic<bool> FStopping = false;
  std::deque<std::unique_ptr<TSlot>> FSlots;  // oldest first, until taken back
  std::deque<TSlot*> FQueue;                  // not yet begun
  std::vector<std::jthread> FWorkers;         // last, so that they go first
};

}  // namespace zlbtool

// Work on a stream of items by several threads, its results handed on in the items' order:
// the caller reads and reports on its own thread, the workers only compute. At most a few
// items per worker are in hand at any time, however long the stream.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace velmora::cli {

template <typename TItem, typename TResult>
class TOrderedWork {
 public:
  // Next fills the next item (false at the end); Work turns an item into its result on a
  // worker (it must not raise); Deliver takes the results in order and returns false to take
  // no further items (those already in hand are still worked on and delivered).
  using TNext = std::function<bool(TItem&)>;
  using TWork = std::function<TResult(TItem&)>;
  using TDeliver = std::function<bool(TResult&)>;

  static void Run(unsigned Jobs, const TNext& Next, const TWork& Work, const TDeliver& Deliver) {
    TOrderedWork work(Work);
    work.Start(Jobs == 0 ? 1 : Jobs);
    try {
      work.Feed(Jobs == 0 ? 4 : 4 * Jobs, Next, Deliver);
    } catch (...) {
      work.Stop();  // the workers finish what they hold; nothing more is delivered
      throw;
    }
    work.Stop();
  }

 private:
  explicit TOrderedWork(const TWork& Work) : FWork(Work) {}

  void Start(unsigned Jobs) {
    for (unsigned i = 0; i < Jobs; ++i) FThreads.emplace_back([this] { Serve(); });
  }

  void Stop() {
    {
      const std::lock_guard lock(FMutex);
      FClosing = true;
    }
    FWanted.notify_all();
    for (std::thread& thread : FThreads) thread.join();
  }

  void Serve() {
    std::unique_lock lock(FMutex);
    for (;;) {
      FWanted.wait(lock, [this] { return FClosing || !FQueue.empty(); });
      if (FQueue.empty()) return;
      std::pair<std::uint64_t, TItem> item = std::move(FQueue.front());
      FQueue.pop_front();
      lock.unlock();
      TResult result = FWork(item.second);
      lock.lock();
      FDone.emplace(item.first, std::move(result));
      FReady.notify_one();
    }
  }

  // Keeps up to Window items in hand and hands each result on as soon as those before it are.
  void Feed(std::uint64_t Window, const TNext& Next, const TDeliver& Deliver) {
    std::uint64_t taken = 0, delivered = 0;
    bool more = true;
    for (;;) {
      while (more && taken - delivered < Window) {
        TItem item;
        more = Next(item);
        if (!more) break;
        {
          const std::lock_guard lock(FMutex);
          FQueue.emplace_back(taken++, std::move(item));
        }
        FWanted.notify_one();
      }
      if (delivered == taken) return;
      TResult result = Take(delivered++);
      if (!Deliver(result)) more = false;
    }
  }

  TResult Take(std::uint64_t Index) {
    std::unique_lock lock(FMutex);
    FReady.wait(lock, [&] { return FDone.count(Index) > 0; });
    auto found = FDone.find(Index);
    TResult result = std::move(found->second);
    FDone.erase(found);
    return result;
  }

  const TWork& FWork;
  std::mutex FMutex;
  std::condition_variable FWanted, FReady;
  std::deque<std::pair<std::uint64_t, TItem>> FQueue;
  std::map<std::uint64_t, TResult> FDone;
  std::vector<std::thread> FThreads;
  bool FClosing = false;
};

}  // namespace velmora::cli

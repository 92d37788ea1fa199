#pragma once
// Replaces one file from a thread of its own, so that the thread that asks
// never waits for the disk. Each request describes the whole file, so
// requests that pile up while a write runs collapse into the newest one. The
// replacement itself is WriteFileAtomically: after a crash the file is the
// old or the new one.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tolvar {

class AsyncFileWriter {
  public:
    // What the file must hold, asked for on the writer thread: bytes that
    // stay as they are while the function object lives (it owns them, or a
    // snapshot of them).
    using Content = std::function<std::string_view()>;

    // written runs on the writer thread after each write; it may hand the news
    // to the owner's thread, which then calls TakeOutcome.
    AsyncFileWriter(std::string path, std::function<void()> written = {});
    // Finishes what was asked for, then ends the thread.
    ~AsyncFileWriter();
    AsyncFileWriter(const AsyncFileWriter&) = delete;
    AsyncFileWriter& operator=(const AsyncFileWriter&) = delete;

    // Asks for the file to hold content; a request still waiting is dropped.
    void Submit(Content content);
    // Waits until every request made so far is written or has failed.
    void Finish();
    // Drops a request that has not started (true if there was one); one being
    // written is finished.
    bool Cancel();

    // The writes finished since the last call: whether there were any, the
    // first failure among them (the system's error text), and whether the
    // last one succeeded.
    struct Outcome {
        bool any = false;
        std::optional<std::string> firstError;
        bool lastSucceeded = true;
    };
    Outcome TakeOutcome();

    const std::string& Path() const { return path_; }

  private:
    void Run();

    const std::string path_;
    const std::function<void()> written_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a request, or the end
    std::condition_variable idle_;  // nothing waiting, nothing being written
    Content pending_;
    bool writing_ = false;
    bool stopping_ = false;
    Outcome outcome_;
    std::thread thread_;  // started by the first request
};

}  // namespace tolvar

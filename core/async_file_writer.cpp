#include "core/async_file_writer.h"

#include <exception>
#include <utility>

#include "core/atomic_file.h"

namespace tolvar {

AsyncFileWriter::AsyncFileWriter(std::string path, std::function<void()> written)
    : path_(std::move(path)), written_(std::move(written)) {}

AsyncFileWriter::~AsyncFileWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void AsyncFileWriter::Submit(Content content) {
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(content);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
}

void AsyncFileWriter::Finish() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !pending_ && !writing_; });
}

bool AsyncFileWriter::Cancel() {
    std::lock_guard lock(mutex_);
    const bool dropped = static_cast<bool>(pending_);
    pending_ = nullptr;
    if (!writing_) idle_.notify_all();
    return dropped;
}

AsyncFileWriter::Outcome AsyncFileWriter::TakeOutcome() {
    std::lock_guard lock(mutex_);
    return std::exchange(outcome_, Outcome{});
}

void AsyncFileWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || stopping_; });
        // What was asked for before the end is still written.
        if (!pending_) return;
        Content content = std::move(pending_);
        pending_ = nullptr;
        writing_ = true;
        lock.unlock();

        std::optional<std::string> error;
        try {
            error = WriteFileAtomically(path_, content());
        } catch (const std::exception& e) {
            error = e.what();  // out of memory while making the text
        }
        content = nullptr;  // the snapshot goes before anybody is told

        lock.lock();
        writing_ = false;
        outcome_.any = true;
        if (error && !outcome_.firstError) outcome_.firstError = error;
        outcome_.lastSucceeded = !error;
        if (!pending_) idle_.notify_all();
        if (written_) {
            lock.unlock();
            written_();
            lock.lock();
        }
    }
}

}  // namespace tolvar

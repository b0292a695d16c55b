#include "dEM/downloads_ahead.h"

#include <algorithm>
#include <thread>

#include "platform/files.h"
#include "platform/stream.h"

struct TDownloadsAhead::Worker {
    TIdHTTP http;
    TIdCookieManager cookies;
    std::string url;  // of the download under way, for its progress
    std::thread thread;
};

TDownloadsAhead::TDownloadsAhead(int connections, int64_t bytesAhead, TConfigure configure, TProgress progress)
    : connections_(static_cast<std::size_t>(std::max(connections, 1))),
      bytesAhead_(bytesAhead),
      configure_(std::move(configure)),
      progress_(std::move(progress)) {}

TDownloadsAhead::~TDownloadsAhead() { Cancel(); }

std::size_t TDownloadsAhead::Add(std::string url, std::string file, int64_t size) {
    std::size_t number = 0;
    {
        std::lock_guard guard(lock_);
        number = jobs_.size();
        Job& job = jobs_.emplace_back();
        job.url = std::move(url);
        job.file = std::move(file);
        job.size = size;
    }
    // A worker is started per download until there are as many as connections: a run with little to fetch
    // opens few.
    if (workers_.size() < connections_) StartWorker();
    changed_.notify_all();
    return number;
}

void TDownloadsAhead::StartWorker() {
    auto worker = std::make_unique<Worker>();
    configure_(worker->http, worker->cookies);
    Worker& started = *worker;
    // A cancel breaks the transfer off from its own thread, at its next bytes.
    const auto report = [this, &started](int64_t received) {
        if (cancelled_) started.http.CloseConnection();
        else if (progress_) progress_(started.url, received, started.http.Response().ContentLength);
    };
    started.http.OnWorkBegin = [report](TIdComponent*, TWorkMode mode, int32_t) {
        if (mode == wmRead) report(0);
    };
    started.http.OnWork = [report](TIdComponent*, TWorkMode mode, int32_t count) {
        if (mode == wmRead) report(count);
    };
    {
        std::lock_guard guard(lock_);
        workers_.push_back(std::move(worker));
    }
    started.thread = std::thread([this, &started] { Work(started); });
}

void TDownloadsAhead::Work(Worker& worker) {
    std::unique_lock lock(lock_);
    for (std::size_t number = 0; NextJob(lock, number);) {
        const Job& job = jobs_[number];
        worker.url = job.url;
        const std::string file = job.file;
        lock.unlock();
        std::string failure;
        try {
            TFileStream target(file, TFileStream::Mode::Create);
            worker.http.GetResuming(worker.url, target);
        } catch (const std::exception& error) {
            failure = error.what();
            if (failure.empty()) failure = "the transfer failed";
        }
        lock.lock();
        Finish(number, std::move(failure));
    }
}

bool TDownloadsAhead::NextJob(std::unique_lock<std::mutex>& lock, std::size_t& number) {
    changed_.wait(lock, [this] { return cancelled_ || (next_ < jobs_.size() && MayStart(next_)); });
    if (cancelled_) return false;
    number = next_++;
    startedBytes_ += jobs_[number].size;
    return true;
}

// The download the caller waits for always starts, however large; the others only while the bytes started
// ahead of it stay within the limit.
bool TDownloadsAhead::MayStart(std::size_t number) const {
    return number <= taken_ || startedBytes_ + jobs_[number].size <= bytesAhead_;
}

void TDownloadsAhead::Finish(std::size_t number, std::string failure) {
    Job& job = jobs_[number];
    job.failure = std::move(failure);
    job.done = true;
    changed_.notify_all();
}

std::string TDownloadsAhead::Take(std::size_t number) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return jobs_[number].done || cancelled_; });
    Job& job = jobs_[number];
    if (!job.done) return "the download was cancelled";
    taken_ = number + 1;
    startedBytes_ -= job.size;
    changed_.notify_all();
    return job.failure;
}

void TDownloadsAhead::Cancel() {
    {
        std::lock_guard guard(lock_);
        if (cancelled_ && workers_.empty()) return;
        cancelled_ = true;
        for (const auto& worker : workers_) worker->http.CloseConnection();
    }
    changed_.notify_all();
    for (const auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
    workers_.clear();
    for (std::size_t number = taken_; number < next_; ++number) platform::DeleteFile(jobs_[number].file);
}

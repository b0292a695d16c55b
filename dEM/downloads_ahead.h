#pragma once
// Package downloads that run ahead of the mirror's stores: a few worker threads, each keeping its own connection
// alive from one package to the next, fetch the queued downloads in queue order into files, while the caller
// takes the finished files one by one in the same order. The bytes fetched ahead of the caller stay under a
// limit; a cancel breaks off the transfers under way and deletes every file the caller has not taken.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http.h"

class TDownloadsAhead {
public:
    // Sets up a worker's client as the caller's own requests are set up (proxy, request headers), and the
    // worker's own cookie store, which that client uses.
    using TConfigure = std::function<void(TIdHTTP& http, TIdCookieManager& cookies)>;
    // A worker's progress on a download, called on the worker's thread.
    using TProgress = std::function<void(const std::string& url, int64_t received, int64_t total)>;

    TDownloadsAhead(int connections, int64_t bytesAhead, TConfigure configure, TProgress progress);
    ~TDownloadsAhead();
    TDownloadsAhead(const TDownloadsAhead&) = delete;
    TDownloadsAhead& operator=(const TDownloadsAhead&) = delete;

    // Queues a download of the URL into the file; `size` is what it is expected to take. Returns its number.
    std::size_t Add(std::string url, std::string file, int64_t size);
    // Waits for the download with the number, which must be the next one not taken. Empty when its file holds
    // the whole body, which is then the caller's to delete; else why it failed.
    std::string Take(std::size_t number);
    // Breaks off the transfers under way, waits for the workers and deletes the files of every download not
    // taken. Nothing runs ahead afterwards.
    void Cancel();

private:
    struct Job {
        std::string url;
        std::string file;
        int64_t size = 0;
        bool done = false;
        std::string failure;
    };
    struct Worker;

    void StartWorker();
    void Work(Worker& worker);
    // The number of the next job this worker may start, or none once the downloads are cancelled.
    bool NextJob(std::unique_lock<std::mutex>& lock, std::size_t& number);
    bool MayStart(std::size_t number) const;
    void Finish(std::size_t number, std::string failure);

    const std::size_t connections_;
    const int64_t bytesAhead_;
    const TConfigure configure_;
    const TProgress progress_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::size_t next_ = 0;      // the first job no worker has started
    std::size_t taken_ = 0;     // the first job the caller has not taken
    int64_t startedBytes_ = 0;  // the expected sizes of the jobs started and not taken
    std::atomic<bool> cancelled_{false};
    std::vector<std::unique_ptr<Worker>> workers_;
};

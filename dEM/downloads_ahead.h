#pragma once
// Packages fetched and made ready ahead of the mirror's stores: a few worker threads, each keeping its own
// connection alive from one package to the next, fetch the queued packages in queue order, unpack and test them,
// while the caller takes the finished ones one by one in the same order and only stores them. The bytes fetched
// ahead of the caller stay under a limit; a cancel breaks off the transfers under way.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "http/http.h"

// A package to fetch and the entry it is tested against.
struct TPackageOrder {
    std::string Url;
    std::string EntryFileName;
    int32_t Size = 0;
    int32_t Crc = 0;
    std::optional<std::string> Sha256;  // for a verifying installation
    // Where the candidate is made, and beside it a large download that is not a zip.
    std::string Place;
    // Where a zip of several members is unpacked.
    std::string UnpackFolder;
    // Differences the catalogue offers for the entry: the one whose base is the file at EntryFileName (the shared
    // copy) is fetched instead of the package.
    std::vector<TDeltaRef> Deltas;
};

// A fetched package ready for its store, or why there is none.
struct TFetchedPackage {
    std::string TransferFailure;  // the download failed
    std::string PackageFailure;   // the package could not be unpacked
    bool OutOfMemory = false;     // either ran out of memory: no fault of the server or the package
    TPreparedPackage Package;
    TCandidateCheck Check = TCandidateCheck::SizeDiffers;
    // The bytes of the difference the candidate was rebuilt from; nothing when it came from the package.
    std::optional<int64_t> FromDelta;
};

// Unpacks a package already received and tests its candidate.
TFetchedPackage PrepareFetchedPackage(TReceivedPackage received, const TPackageOrder& order);

// Writes the body of a GET into the stream, asking again while a busy server turns it away and `again` says so.
// Returns why it failed, empty when it did not; raises only std::bad_alloc.
std::string GetInto(TIdHTTP& http, const std::string& url, TStream& target, const TBusyServerAnswer& again);
// A download as the caller makes it (with its own client, progress and busy-server answer), as GetInto does.
using TGetInto = std::function<std::string(const std::string& url, TStream& target)>;
// Told when a difference that fits the entry's file failed and its package is fetched instead: the file and why.
using TDeltaFallback = std::function<void(const std::string& entryFileName, const std::string& reason)>;
// The entry's file rebuilt from the difference whose base is the local file, and tested as a package is; when
// none fits, the package `fetchPackage` fetches. A difference that fails in any way is told to `fallback` and
// the package is fetched all the same: a difference only ever saves bytes.
TFetchedPackage FetchDeltaElsePackage(const TPackageOrder& order, const TGetInto& get, const TDeltaFallback& fallback,
                                      const std::function<TFetchedPackage()>& fetchPackage);
// The bytes the order is likely to fetch: a difference whose base has the local file's size (whether it really
// is the base takes a read, done when the order is fetched), else the entry's size.
int64_t LikelyFetchSize(const TPackageOrder& order);

class TDownloadsAhead {
public:
    // Sets up a worker's client as the caller's own requests are set up (proxy, request headers), and the
    // worker's own cookie store, which that client uses.
    using TConfigure = std::function<void(TIdHTTP& http, TIdCookieManager& cookies)>;
    // A worker's progress on a download, called on the worker's thread.
    using TProgress = std::function<void(const std::string& url, int64_t received, int64_t total)>;

    TDownloadsAhead(int connections, int64_t bytesAhead, TConfigure configure, TProgress progress,
                    TDeltaFallback fallback);
    ~TDownloadsAhead();
    TDownloadsAhead(const TDownloadsAhead&) = delete;
    TDownloadsAhead& operator=(const TDownloadsAhead&) = delete;

    // Queues the package; what it is likely to fetch is what it is expected to take. Returns its number.
    std::size_t Add(TPackageOrder order);
    // Waits for the package with the number, which must be the next one not taken; its files are then the
    // caller's.
    TFetchedPackage Take(std::size_t number);
    // Breaks off the transfers under way and waits for the workers. Nothing runs ahead afterwards; the files
    // of packages not taken are left to the caller, who named their places.
    void Cancel();

private:
    struct Job {
        TPackageOrder order;
        int64_t bytes = 0;  // likely to be fetched
        bool done = false;
        TFetchedPackage fetched;
    };
    struct Worker;

    void StartWorker();
    void Work(Worker& worker);
    // The number of the next job this worker may start, or none once the downloads are cancelled.
    bool NextJob(std::unique_lock<std::mutex>& lock, std::size_t& number);
    bool MayStart(std::size_t number) const;
    // What a worker does when a busy server turns its request away: true after a wait to ask again.
    bool AnswerBusyServer(Worker& worker, std::chrono::milliseconds pause, int attempt);
    void Requeue(std::size_t number);

    std::size_t connections_;  // the most the run may open now: lowered each time a busy server turns one away
    const std::size_t initialConnections_;
    const int64_t bytesAhead_;
    const TConfigure configure_;
    const TProgress progress_;
    const TDeltaFallback fallback_;

    std::mutex lock_;
    std::condition_variable toStart_;  // workers wait here for a package they may start
    std::condition_variable done_;     // the caller waits here for the package it takes
    std::deque<Job> jobs_;
    std::size_t working_ = 0;   // workers not turned away
    std::set<std::size_t> requeued_;  // jobs a busy server turned away, started again before any new one
    std::size_t next_ = 0;      // the first job no worker has started
    std::size_t taken_ = 0;     // the first job the caller has not taken
    int64_t startedBytes_ = 0;  // the likely fetches of the jobs started and not taken
    std::atomic<bool> cancelled_{false};
    std::vector<std::unique_ptr<Worker>> workers_;
};

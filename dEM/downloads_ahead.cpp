#include "dEM/downloads_ahead.h"

#include <algorithm>
#include <new>
#include <thread>

#include "delta/delta.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

// Holds what is written in memory up to a limit, then moves it into a file and goes on there: a small package
// costs no file of its own, a large one no more memory than the limit. A zip archive too goes on in its file,
// from which its members are inflated a block at a time.
class TSpillingStream : public TStream {
public:
    TSpillingStream(std::string spillFile, int64_t memoryLimit)
        : spillFile_(std::move(spillFile)), memoryLimit_(memoryLimit) {}

    int64_t Read(void* buffer, int64_t count) override { return Current().Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override {
        if (!file_ && memory_.Position() + count > memoryLimit_) Spill();
        return Current().Write(buffer, count);
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return Current().Seek(offset, origin); }
    void SetSize(int64_t size) override { Current().SetSize(size); }
    int64_t Size() override { return Current().Size(); }

    TReceivedPackage Received() {
        if (!file_) return {memory_.TakeData(), ""};
        file_.reset();
        return {"", spillFile_};
    }

private:
    TStream& Current() { return file_ ? static_cast<TStream&>(*file_) : memory_; }
    void Spill() {
        file_ = std::make_unique<TFileStream>(spillFile_, TFileStream::Mode::Create);
        const int64_t position = memory_.Position();
        const std::string held = memory_.TakeData();
        file_->WriteBuffer(held.data(), static_cast<int64_t>(held.size()));
        file_->SetPosition(position);
    }

    const std::string spillFile_;
    const int64_t memoryLimit_;
    TMemoryStream memory_;
    std::unique_ptr<TFileStream> file_;
};

// Packages up to this size are received into memory: most packages of a release are small, and each of them then
// costs no file of its own. With a few connections at once, it keeps a run's memory to a few megabytes.
constexpr int64_t HeldInMemory = int64_t{1} << 20;

TFetchedPackage TransferFailed(std::string why) {
    TFetchedPackage failed;
    failed.TransferFailure = std::move(why);
    return failed;
}

TFetchedPackage OutOfMemory() {
    TFetchedPackage failed;
    failed.OutOfMemory = true;
    return failed;
}

// Fetches the package (into memory, a large one into a file), unpacks it and tests it.
TFetchedPackage FetchPackage(const TPackageOrder& order, const TGetInto& get) {
    TSpillingStream body(order.Place + ".download", HeldInMemory);
    std::string failure;
    try {
        failure = get(order.Url, body);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    if (!failure.empty()) return TransferFailed(std::move(failure));
    return PrepareFetchedPackage(body.Received(), order);
}

// The candidate's test; a candidate to store is moved into the share as it is: its way to the device can start
// here.
void TestCandidate(TFetchedPackage& fetched, const TPackageOrder& order) {
    fetched.Check = CheckCandidate(fetched.Package, order.Size, order.Crc, order.Sha256);
    if (fetched.Check == TCandidateCheck::Matches) platform::StartWriteback(fetched.Package.Candidate);
}

// The difference is fetched beside the candidate and deleted once applied, whatever came of it.
class TDeltaDownload {
public:
    explicit TDeltaDownload(const TPackageOrder& order) : file_(order.Place + ".delta") {}
    ~TDeltaDownload() { platform::DeleteFile(file_); }
    TDeltaDownload(const TDeltaDownload&) = delete;
    TDeltaDownload& operator=(const TDeltaDownload&) = delete;

    // Raises EDeltaError when the download fails.
    const std::string& Fetch(const std::string& url, const TGetInto& get) {
        std::string failure;
        {
            TFileStream target(file_, TFileStream::Mode::Create);
            failure = get(url, target);
        }
        if (!failure.empty()) throw EDeltaError("its download failed: " + failure);
        return file_;
    }

private:
    const std::string file_;
};

// The entry's file rebuilt from the difference and tested; raises what fetching and applying it raise.
TFetchedPackage RebuildEntryFile(const TPackageOrder& order, const TDeltaRef& delta, const TGetInto& get) {
    TDeltaDownload download(order);
    const std::string& deltaFile = download.Fetch(delta.Download, get);
    TFetchedPackage fetched;
    fetched.Package =
        RebuildFromDelta(delta, order.EntryFileName, deltaFile, order.Place, order.Size, order.Sha256.has_value());
    fetched.FromDelta = delta.Size;
    TestCandidate(fetched, order);
    return fetched;
}

}  // namespace

TFetchedPackage PrepareFetchedPackage(TReceivedPackage received, const TPackageOrder& order) {
    TFetchedPackage fetched;
    try {
        fetched.Package = PrepareReceivedPackage(std::move(received), order.EntryFileName, order.Place,
                                                 order.UnpackFolder, order.Sha256.has_value());
        TestCandidate(fetched, order);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::exception& error) {
        fetched.PackageFailure = error.what();
    }
    return fetched;
}

std::string GetInto(TIdHTTP& http, const std::string& url, TStream& target, const TBusyServerAnswer& again) {
    try {
        GetPatiently(http, url, target, again);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        return TransferFailureText(error, http);
    }
    return "";
}

TFetchedPackage FetchDeltaElsePackage(const TPackageOrder& order, const TGetInto& get, const TDeltaFallback& fallback,
                                      const std::function<TFetchedPackage()>& fetchPackage) {
    if (order.Deltas.empty()) return fetchPackage();
    std::optional<std::string> fault;
    try {
        // The local file's SHA-256 is read here, on the thread that fetches.
        if (const std::optional<TDeltaRef> delta = DeltaForLocalFile(order.Deltas, order.EntryFileName)) {
            TFetchedPackage rebuilt = RebuildEntryFile(order, *delta, get);
            if (rebuilt.Check == TCandidateCheck::Matches) return rebuilt;
            DiscardPreparedPackage(rebuilt.Package);
            fault = RebuiltFileFault(rebuilt.Check);
        }
    } catch (const std::bad_alloc&) {
        fault = "not enough memory";
    } catch (const std::exception& error) {
        fault = error.what();
    }
    if (fault) fallback(order.EntryFileName, *fault);
    return fetchPackage();
}

int64_t LikelyFetchSize(const TPackageOrder& order) {
    platform::File file;
    std::int64_t size = -1;
    if (order.Deltas.empty() || !file.OpenRead(order.EntryFileName, size)) return order.Size;
    for (const TDeltaRef& delta : order.Deltas)
        if (delta.BaseSize == size) return delta.Size;
    return order.Size;
}

struct TDownloadsAhead::Worker {
    TIdHTTP http;
    TIdCookieManager cookies;
    std::string url;  // of the download under way, for its progress
    bool leaving = false;  // a busy server turned it away while other connections remain
    std::thread thread;
};

TDownloadsAhead::TDownloadsAhead(int connections, int64_t bytesAhead, TConfigure configure, TProgress progress,
                                 TDeltaFallback fallback)
    : connections_(static_cast<std::size_t>(std::max(connections, 1))),
      initialConnections_(connections_),
      bytesAhead_(bytesAhead),
      configure_(std::move(configure)),
      progress_(std::move(progress)),
      fallback_(std::move(fallback)) {}

TDownloadsAhead::~TDownloadsAhead() { Cancel(); }

std::size_t TDownloadsAhead::Add(TPackageOrder order) {
    std::size_t number = 0;
    bool oneMore = false;
    {
        std::lock_guard guard(lock_);
        number = jobs_.size();
        Job& job = jobs_.emplace_back();
        job.bytes = LikelyFetchSize(order);
        job.order = std::move(order);
        oneMore = working_ < connections_;
    }
    // A worker is started per package until there are as many as connections: a run with little to fetch
    // opens few.
    if (oneMore) StartWorker();
    toStart_.notify_one();
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
        ++working_;
    }
    started.thread = std::thread([this, &started] { Work(started); });
}

void TDownloadsAhead::Work(Worker& worker) {
    std::unique_lock lock(lock_);
    for (std::size_t number = 0; NextJob(lock, number);) {
        const TPackageOrder order = jobs_[number].order;
        lock.unlock();
        // The progress of each download names its own URL: the difference's, then perhaps the package's.
        const TGetInto get = [this, &worker](const std::string& url, TStream& target) {
            // Once turned away, the worker asks nothing more: the job goes back to the queue whole.
            if (worker.leaving) return std::string("the busy server turned the connection away");
            worker.url = url;
            const auto again = [this, &worker](auto pause, int attempt) {
                return AnswerBusyServer(worker, pause, attempt);
            };
            return GetInto(worker.http, url, target, again);
        };
        // A worker turned away, or a cancelled run, gives up the whole package: no fallback is worth a line.
        const TDeltaFallback fallback = [this, &worker](const std::string& file, const std::string& reason) {
            if (!worker.leaving && !cancelled_) fallback_(file, reason);
        };
        TFetchedPackage fetched =
            FetchDeltaElsePackage(order, get, fallback, [&] { return FetchPackage(order, get); });
        lock.lock();
        if (worker.leaving) {
            Requeue(number);
            lock.unlock();
            worker.http.CloseConnection();
            return;
        }
        Job& job = jobs_[number];
        job.fetched = std::move(fetched);
        job.done = true;
        if (number == taken_) done_.notify_one();
    }
}

bool TDownloadsAhead::NextJob(std::unique_lock<std::mutex>& lock, std::size_t& number) {
    toStart_.wait(lock, [this] {
        return cancelled_ || !requeued_.empty() || (next_ < jobs_.size() && MayStart(next_));
    });
    if (cancelled_) return false;
    if (requeued_.empty()) {
        number = next_++;
    } else {
        number = *requeued_.begin();
        requeued_.erase(requeued_.begin());
    }
    startedBytes_ += jobs_[number].bytes;
    return true;
}

// With other connections left, the turned-away one closes and the run keeps one connection fewer; the last one
// waits for the server and asks again, BusyRetries times.
bool TDownloadsAhead::AnswerBusyServer(Worker& worker, std::chrono::milliseconds pause, int attempt) {
    std::unique_lock lock(lock_);
    if (working_ > 1) {
        --working_;
        connections_ = working_;
        worker.leaving = true;
        return false;
    }
    if (attempt > BusyRetries) return false;
    return !toStart_.wait_for(lock, pause, [this] { return cancelled_.load(); });
}

// The package goes back to the queue ahead of those not started, and the worker's connection closes.
void TDownloadsAhead::Requeue(std::size_t number) {
    requeued_.insert(number);
    startedBytes_ -= jobs_[number].bytes;
    toStart_.notify_all();
}

// The package the caller waits for always starts, however large, and is not counted: a large one is unpacked
// while the others go on. The others start only while the bytes started ahead of it stay within the limit.
bool TDownloadsAhead::MayStart(std::size_t number) const {
    if (number <= taken_) return true;
    const int64_t waitedFor = jobs_[taken_].bytes;  // started, as a later one is about to
    return startedBytes_ - waitedFor + jobs_[number].bytes <= bytesAhead_;
}

TFetchedPackage TDownloadsAhead::Take(std::size_t number) {
    std::unique_lock lock(lock_);
    done_.wait(lock, [&] { return jobs_[number].done || cancelled_; });
    Job& job = jobs_[number];
    if (!job.done) return TransferFailed("the download was cancelled");
    if (!job.fetched.TransferFailure.empty() && connections_ < initialConnections_)
        job.fetched.TransferFailure += "; " + std::to_string(connections_) + " of the run's " +
                                       std::to_string(initialConnections_) + " connections were left";
    taken_ = number + 1;
    startedBytes_ -= job.bytes;
    // Room ahead was freed, and the next package may be the one waited for.
    if (next_ < jobs_.size()) toStart_.notify_all();
    return std::move(job.fetched);
}

void TDownloadsAhead::Cancel() {
    {
        std::lock_guard guard(lock_);
        if (cancelled_ && workers_.empty()) return;
        cancelled_ = true;
        for (const auto& worker : workers_) worker->http.CloseConnection();
    }
    toStart_.notify_all();
    done_.notify_all();
    for (const auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
    workers_.clear();
}

// The wizard's transfers: the catalogue request on the window's thread, and each package on a download thread
// while the window keeps handling its messages.
#include <algorithm>
#include <chrono>
#include <climits>
#include <future>
#include <iostream>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "platform/stream.h"
#include "signing/signing.h"

namespace {

int32_t ClampToInt32(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

// How often the window's thread handles its messages while a package downloads.
constexpr auto DownloadPoll = std::chrono::milliseconds(100);

}  // namespace

bool TFormOrvane::getListOfUpdates(std::string& catalogueText) {
    std::vector<std::string> record;
    std::string refusal;
    CatalogueRefusal.reset();
    bool received = false;
    const std::string url = CatalogueRequestUrl(UpdateServerHost(), QueryText);
    try {
        PrepareCatalogueRequest(IdHTTP1);
        TProgressBarControl& progress = *Controls.ProgressBar;
        progress.SetPosition(RandomDraw(20));
        Controls.Window->Sleep(300);
        progress.SetPosition(25 + RandomDraw(10));
        record.push_back(url);
        catalogueText = IdHTTP1.Get(url);
        // A text that is no XML at all fails later, building the list, where the user sees its error.
        if (IsCutShortCatalogue(catalogueText)) throw ECatalogueCutShort("The catalogue was cut short.");
        if (!(refusal = SignedCatalogueRefusal(catalogueText)).empty()) throw ESignatureError(refusal);
        progress.SetPosition(60 + RandomDraw(20));
        Controls.Window->Sleep(300);
        progress.SetPosition(100);
        received = true;
    } catch (const std::exception&) {
        record.push_back(url);
    }
    SaveRequestRecord(record);
    // After the request record, which starts the run log afresh.
    if (!refusal.empty()) {
        AppendToRunLog(refusal);
        std::cerr << refusal << std::endl;
    }
    return received;
}

void TFormOrvane::DownloadPackage(const std::string& url, std::shared_ptr<const platform::TemporaryPath> target,
                                  std::string* failure) {
    PrepareDownloadRequest(IdHTTP1);
    auto thread = std::make_unique<TDownloadThread>(*this, url, std::move(target), Scheduled, failure != nullptr);
    // A display still queued from the previous download runs during this one: it must not show that
    // download's count on this row.
    pendingWork_ = 0;
    // Attached before the thread starts, so its first bytes are shown too.
    workAttached_ = true;
    thread->Start();
    try {
        while (true) {
            Controls.Window->ProcessMessages();
            // A Cancel clicked during the messages just handled stops the transfer now, not a poll later.
            if (Cancelled) {
                IdHTTP1.CloseConnection();
                break;
            }
            // The end of the download is noticed when it comes, not at the next poll.
            if (thread->WaitForEnd(DownloadPoll)) break;
        }
    } catch (...) {
        workAttached_ = false;
        abandoned_ = std::move(thread);
        throw;
    }
    workAttached_ = false;
    if (Cancelled) {
        abandoned_ = std::move(thread);
        return;
    }
    if (failure) *failure = thread->Failure;
}

void TFormOrvane::IdHTTP1Work(TWorkMode /*mode*/, int64_t count) {
    if (std::this_thread::get_id() == windowThread_) {
        ApplyWork(count);
        return;
    }
    // Only the newest count matters: one display is queued at a time, so a fast transfer is never held up by
    // the window.
    pendingWork_ = count;
    if (workQueued_.exchange(true)) return;
    Controls.Window->RunOnWindowThread([this] {
        workQueued_ = false;
        if (workAttached_) ApplyWork(pendingWork_);
    });
}

void TFormOrvane::ApplyWork(int64_t count) {
    const std::string remaining = SizeText(ClampToInt32(int64_t{CurrentDownloadSize} - count));
    Controls.ListViewItems->SetStatus(CurrentRow, FormatText(Message("MsgOV15"), {remaining}));
    Controls.ProgressBar->SetPosition(static_cast<int>(std::clamp<int64_t>(ProcessedBytes + count, 0, INT_MAX)));
}

void TFormOrvane::ShowDownloadError(const std::string& message) {
    // A cancelled download fails by design: the user asked for it and is not told again.
    if (Cancelled || closing_) return;
    auto answered = std::make_shared<std::promise<void>>();
    std::future<void> done = answered->get_future();
    Controls.Window->RunOnWindowThread([this, message, answered] {
        if (!closing_) Box(message, MB_OK);
        answered->set_value();
    });
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        if (closing_) return;
}

TDownloadThread::TDownloadThread(TFormOrvane& form, std::string url,
                                 std::shared_ptr<const platform::TemporaryPath> target, bool scheduled, bool quiet)
    : Url(std::move(url)), TargetFile(target->Path()), Scheduled(scheduled), Quiet(quiet), form_(form),
      target_(std::move(target)) {}

TDownloadThread::~TDownloadThread() { WaitFor(); }

void TDownloadThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

bool TDownloadThread::WaitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock lock(endLock_);
    return ended_.wait_for(lock, limit, [this] { return Terminated(); });
}

void TDownloadThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TDownloadThread::Execute() {
    try {
        TFileStream target(TargetFile, TFileStream::Mode::Create);
        // A line that breaks mid-way costs the rest of the package, not all of it again.
        form_.IdHTTP1.GetResuming(Url, target);
    } catch (const EIdException& failure) {
        Failure = failure.Message();
        if (!Quiet) ReportFailure();
    } catch (const std::exception& failure) {
        // A file that cannot be made or written: the thread just ends, and the install step finds the file wrong.
        Failure = failure.what();
    }
    std::lock_guard lock(endLock_);
    terminated_ = true;
    ended_.notify_all();
}

void TDownloadThread::ReportFailure() {
    try {
        AppendToRunLog("TDownloadThread.Execute ERROR: " + Failure);
        if (!Scheduled) form_.ShowDownloadError(Failure);
    } catch (const std::exception&) {
        // A log that cannot be written: the install step still finds the file wrong and says so on its row.
    }
}

// Abandoning a download from another thread: the transfer ends with an EIdException, the stream keeps what
// arrived, and the component stays usable.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "http/http.h"
#include "tests/support/scripted_server.h"

using namespace testsupport;

namespace {

constexpr int64_t StatedLength = 50000000;

// Runs a Get on a worker; returns the message of the EIdException that ended it, or "" when it succeeded.
std::future<std::string> StartDownload(TIdHTTP& http, const std::string& url, TMemoryStream& stream) {
    return std::async(std::launch::async, [&http, url, &stream]() -> std::string {
        try {
            http.Get(url, stream);
            return "";
        } catch (const EIdException& e) {
            return e.Message().empty() ? "EIdException" : e.Message();
        }
    });
}

}  // namespace

TEST(HttpCancel, CloseFromAnotherThreadEndsAStalledTransfer) {
    const std::string firstPart(100000, 'p');
    ScriptedServer server(
        {{AwaitRequest(),
          Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(StatedLength) + "\r\n\r\n" + firstPart),
          Stall()},
         {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nagain")}});
    TIdHTTP http;
    std::atomic<int32_t> received{0};
    http.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
        if (mode == wmRead) received = count;
    };
    TMemoryStream stream;
    std::future<std::string> download = StartDownload(http, server.Url("/big.bin"), stream);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Work is reported per block of 32768 bytes: the last partial block only waits in the input buffer.
    const int32_t lastFullBlock = static_cast<int32_t>(firstPart.size()) - 32768;
    while (received < lastFullBlock && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(received, lastFullBlock);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    http.CloseConnection();
    ASSERT_EQ(download.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(download.get(), "Connection Closed Gracefully.");
    // Everything reported arrived in the stream, and nothing else did.
    EXPECT_GE(stream.Size(), static_cast<int64_t>(received));
    EXPECT_EQ(stream.Data(), firstPart.substr(0, stream.Data().size()));
    EXPECT_FALSE(http.IsOpen());

    EXPECT_EQ(http.Get(server.Url("/next")), "again");
}

TEST(HttpCancel, CloseRacingTheStartOfATransferNeverHangsOrCrashes) {
    for (int round = 0; round < 20; ++round) {
        ScriptedServer server({{AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), Stall()}});
        TIdHTTP http;
        TMemoryStream stream;
        std::future<std::string> download = StartDownload(http, server.Url("/f"), stream);
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        http.CloseConnection();
        // A close that came before the transfer started leaves it running: a second close ends it.
        while (download.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) http.CloseConnection();
        EXPECT_NE(download.get(), "");
    }
}

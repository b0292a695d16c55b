// Downloads whose connection breaks: the rest is asked for with a Range request and kept only when the answer
// continues the part held; anything else starts the body over once, and a close asked for is never retried.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "http/http.h"
#include "tests/support/scripted_server.h"

using namespace testsupport;

namespace {

const std::string Body = std::string(5000, 'b') + "end of the body\n";
constexpr size_t Cut = 1200;

std::string Head(const std::string& status, size_t length, const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra + "\r\n";
}
std::string Partial(size_t from) {
    return Head("206 Partial Content", Body.size() - from,
                "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(Body.size() - 1) + "/" +
                    std::to_string(Body.size()) + "\r\n") +
           Body.substr(from);
}

const ConnectionScript Broken = {AwaitRequest(), Send(Head("200 OK", Body.size()) + Body.substr(0, Cut)), Close()};

// The Range header of each request received, "" for a request without one.
std::vector<std::string> RangeHeaders(const std::string& received) {
    std::vector<std::string> ranges;
    for (size_t at = received.find("GET "); at != std::string::npos; at = received.find("GET ", at + 1)) {
        const std::string request = received.substr(at, received.find("\r\n\r\n", at) - at);
        const size_t header = request.find("\r\nRange: ");
        const size_t end = request.find("\r\n", header + 2);
        ranges.push_back(header == std::string::npos ? "" : request.substr(header + 9, end - header - 9));
    }
    return ranges;
}

TEST(HttpResume, OnlyAMatchingPartialAnswerContinuesThePartHeld) {
    struct Case {
        const char* what;
        std::vector<ConnectionScript> scripts;
        bool succeeds;
        std::vector<std::string> ranges;  // the Range header of each request, connection by connection
    };
    const ConnectionScript whole = {AwaitRequest(), Send(Head("200 OK", Body.size()) + Body)};
    // A refused range is a complete answer: the new start goes on the same connection.
    const ConnectionScript refused = {AwaitRequest(), Send(Head("416 Range Not Satisfiable", 0)), AwaitRequest(),
                                      Send(Head("200 OK", Body.size()) + Body)};
    const auto answer = [](size_t from) { return ConnectionScript{AwaitRequest(), Send(Partial(from))}; };
    const Case cases[] = {
        {"rest continues the part", {Broken, answer(Cut)}, true, {"", "bytes=1200-"}},
        {"rest from another offset", {Broken, answer(Cut - 100), whole}, true, {"", "bytes=1200-", ""}},
        {"range refused", {Broken, refused}, true, {"", "bytes=1200-", ""}},
        {"wrong again after the new start", {Broken, answer(10), Broken, answer(10)}, false,
         {"", "bytes=1200-", "", "bytes=1200-"}},
        {"nothing arrived", {{AwaitRequest(), Reset()}, answer(Cut)}, false, {""}},
        {"not found", {{AwaitRequest(), Send(Head("404 Not Found", 0))}}, false, {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.scripts);
        TIdHTTP http;
        TMemoryStream stream;
        bool succeeded = true;
        try {
            http.GetResuming(server.Url("/package.zip"), stream);
        } catch (const EIdException&) {
            succeeded = false;
        }
        EXPECT_EQ(succeeded, c.succeeds);
        EXPECT_EQ(c.succeeds ? stream.Data() : Body, Body);
        std::vector<std::string> ranges;
        for (int i = 0; i < server.ConnectionCount(); ++i) {
            const std::vector<std::string> more = RangeHeaders(server.Received(i));
            ranges.insert(ranges.end(), more.begin(), more.end());
        }
        EXPECT_EQ(ranges, c.ranges);
        // The caller's own request settings are back afterwards: the next request asks for no range.
        EXPECT_EQ(http.Request().ContentRangeStart, 0);
    }
}

TEST(HttpResume, ACloseFromAnotherThreadIsNotRetried) {
    ScriptedServer server({{AwaitRequest(), Send(Head("200 OK", Body.size()) + Body.substr(0, Cut)), Stall()},
                           {AwaitRequest(), Send(Partial(Cut))}});
    TIdHTTP http;
    TMemoryStream stream;
    std::future<bool> download = std::async(std::launch::async, [&] {
        try {
            http.GetResuming(server.Url("/package.zip"), stream);
            return true;
        } catch (const EIdException&) {
            return false;
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.ConnectionCount() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    http.CloseConnection();
    ASSERT_EQ(download.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(download.get());
    EXPECT_EQ(server.ConnectionCount(), 1);
}

}  // namespace

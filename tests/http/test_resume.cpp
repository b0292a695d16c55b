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

// The value of the named header in each request received, "" for a request without one.
std::vector<std::string> HeaderValues(const std::string& received, const std::string& name = "Range") {
    std::vector<std::string> values;
    const std::string start = "\r\n" + name + ": ";
    for (size_t at = received.find("GET "); at != std::string::npos; at = received.find("GET ", at + 1)) {
        const std::string request = received.substr(at, received.find("\r\n\r\n", at) - at);
        const size_t header = request.find(start);
        const size_t end = request.find("\r\n", header + 2);
        values.push_back(header == std::string::npos ? ""
                                                     : request.substr(header + start.size(), end - header - start.size()));
    }
    return values;
}

// The values of the named header in every request of every connection, in order.
std::vector<std::string> HeaderValues(const ScriptedServer& server, const std::string& name) {
    std::vector<std::string> values;
    for (int i = 0; i < server.ConnectionCount(); ++i) {
        const std::vector<std::string> more = HeaderValues(server.Received(i), name);
        values.insert(values.end(), more.begin(), more.end());
    }
    return values;
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
        EXPECT_EQ(HeaderValues(server, "Range"), c.ranges);
        // The caller's own request settings are back afterwards: the next request asks for no range.
        EXPECT_EQ(http.Request().ContentRangeStart, 0);
    }
}

// A resume names the body it continues (If-Range, as a mirror run shows in full), and a silence counts as a break.
TEST(HttpResume, IfRangeNamesTheFirstBodyAndASilenceIsABreak) {
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    const auto cutWith = [&](const std::string& validators) {
        return ConnectionScript{AwaitRequest(), Send(Head("200 OK", Body.size(), validators) + Body.substr(0, Cut)),
                                Close()};
    };
    const ConnectionScript whole = {AwaitRequest(), Send(Head("200 OK", Body.size()) + Body)};
    struct Case {
        const char* what;
        std::vector<ConnectionScript> scripts;
        std::vector<std::string> ifRange;  // of each request
        std::vector<std::string> ranges;
    };
    const Case cases[] = {
        {"strong ETag", {cutWith("ETag: \"e1\"\r\nLast-Modified: " + date + "\r\n"), {AwaitRequest(), Send(Partial(Cut))}},
         {"", "\"e1\""}, {"", "bytes=1200-"}},
        {"weak ETag gives way to the date", {cutWith("ETag: W/\"e1\"\r\nLast-Modified: " + date + "\r\n"),
                                             {AwaitRequest(), Send(Partial(Cut))}},
         {"", date}, {"", "bytes=1200-"}},
        {"silence mid-body", {{AwaitRequest(), Send(Head("200 OK", Body.size()) + Body.substr(0, Cut)), Stall()},
                              {AwaitRequest(), Send(Partial(Cut))}},
         {"", ""}, {"", "bytes=1200-"}},
        {"silence before any answer", {{AwaitRequest(), Stall()}, whole}, {"", ""}, {"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.scripts);
        TIdHTTP http;
        http.ReadTimeout = 300;
        TMemoryStream stream;
        EXPECT_NO_THROW(http.GetResuming(server.Url("/package.zip"), stream));
        EXPECT_EQ(stream.Data(), Body);
        EXPECT_EQ(HeaderValues(server, "If-Range"), c.ifRange);
        EXPECT_EQ(HeaderValues(server, "Range"), c.ranges);
        EXPECT_EQ(http.Request().IfRange, "");
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

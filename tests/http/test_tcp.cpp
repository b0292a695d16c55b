// The TCP layer against a scripted loopback peer: line reads, counted and open-ended bodies with their work
// events, time limits, socket errors and write batches.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#endif

#include "http/tcp_connection.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/scripted_server.h"

using namespace testsupport;

namespace {

struct WorkLog {
    std::vector<std::string> events;
    void Attach(TIdComponent& component) {
        component.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int32_t max) {
            if (mode == wmRead) events.push_back("begin " + std::to_string(max));
        };
        component.OnWork = [this](TIdComponent*, TWorkMode mode, int32_t count) {
            if (mode == wmRead) events.push_back("work " + std::to_string(count));
        };
        component.OnWorkEnd = [this](TIdComponent*, TWorkMode mode) {
            if (mode == wmRead) events.push_back("end");
        };
    }
};

void Connect(TIdTCPClient& client, const ScriptedServer& server) {
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection();
}

// A listener that never accepts, with its queue filled: further connection attempts get no answer until
// Release makes room.
class FullListener {
public:
    FullListener() {
        listener_ = ListenOnLoopback(0, true, port_);
        if (listener_ == kNoSocket) ADD_FAILURE() << "no listener";
        for (int i = 0; i < 3; ++i) fillers_.push_back(StartConnecting(port_));
    }
    ~FullListener() {
        Release();
        CloseSocket(listener_);
    }
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    int Port() const { return port_; }
    void Release() {
        for (SocketHandle filler : fillers_)
            if (filler != kNoSocket) CloseSocket(filler);
        fillers_.clear();
        const SocketHandle queued = Accept(listener_);
        if (queued != kNoSocket) CloseSocket(queued);
    }

private:
    SocketHandle listener_ = kNoSocket;
    int port_ = 0;
    std::vector<SocketHandle> fillers_;
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

}  // namespace

TEST(TcpBuffer, ConsumingAndCompactingKeepsTheBytesInOrder) {
    TIdManagedBuffer buffer;
    std::string expected;
    const std::string source = Pattern(200000);
    size_t appended = 0;
    while (appended < source.size()) {
        const size_t n = std::min<size_t>(9000, source.size() - appended);
        std::memcpy(buffer.PrepareAppend(n), source.data() + appended, n);
        buffer.Commit(n);
        expected.append(source, appended, n);
        appended += n;
        const size_t take = std::min<size_t>(7000, buffer.Size());
        EXPECT_EQ(std::string(buffer.Data(), take), expected.substr(0, take));
        buffer.Remove(take);
        expected.erase(0, take);
    }
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size()), expected);
    EXPECT_THROW(buffer.Remove(buffer.Size() + 1), EIdNotEnoughDataInBuffer);
}

TEST(TcpReadLine, TerminatorsLimitsAndCloses) {
    const std::string longest(16384, 'x');
    ScriptedServer server({{Send("one\r\ntwo\nthree\r\r\n" + longest + "\n" + longest + "y\n")},
                           {Send(std::string(16385, 'z'))},
                           {Send("abc"), Close()},
                           {Close()}});
    TIdTCPClient client;
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), "one");
    EXPECT_EQ(client.ReadLine(), "two");
    EXPECT_EQ(client.ReadLine(), "three\r");
    EXPECT_EQ(client.ReadLine(), longest);
    EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
    client.MaxLineAction = maSplit;
    EXPECT_EQ(client.ReadLine(), longest);
    EXPECT_TRUE(client.ReadLnSplit());
    client.CloseConnection();

    client.MaxLineAction = maException;
    Connect(client, server);
    EXPECT_THROW(client.ReadLine(), EIdReadLnMaxLineLengthExceeded);  // no terminator, too much buffered
    client.CloseConnection();

    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), "");
    EXPECT_TRUE(client.ReadLnTimedOut());
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    client.CloseConnection();

    Connect(client, server);
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
}

TEST(TcpReadIntoStream, CountedBodyReportsARunningTotal) {
    const std::string body = Pattern(800);
    // The rest of the body is sent only once the client asks, so the first 300 bytes are buffered alone.
    ScriptedServer server({{Send("head\n" + body.substr(0, 300)), AwaitRequest(), Send(body.substr(300))}});
    TIdTCPClient client;
    WorkLog log;
    log.Attach(client);
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), "head");
    client.SendText("more\r\n\r\n");
    TMemoryStream stream;
    client.ReadIntoStream(stream, 800, false);
    EXPECT_EQ(stream.Data(), body);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 800", "work 300", "work 800", "end"}));
}

TEST(TcpReadIntoStream, LargeBodyIsOneWorkCallPerBlock) {
    const std::string body = Pattern(3 * 1024 * 1024 + 17);
    ScriptedServer server({{Send(body)}});
    TIdTCPClient client;
    int calls = 0;
    int32_t last = 0;
    client.OnWork = [&](TIdComponent*, TWorkMode, int32_t count) {
        EXPECT_GT(count, last);
        last = count;
        ++calls;
    };
    Connect(client, server);
    TMemoryStream stream;
    stream.WriteText("prefix");
    client.ReadIntoStream(stream, static_cast<int64_t>(body.size()), false);
    EXPECT_EQ(stream.Data(), "prefix" + body);
    EXPECT_EQ(last, static_cast<int32_t>(body.size()));
    EXPECT_LE(calls, static_cast<int>(body.size() / 32768) + 2);
}

// Shows how many received bytes wait in the input buffer.
class BufferWatchingClient : public TIdTCPClient {
public:
    using TIdTCPConnection::BufferedInput;
};

TEST(TcpReadIntoStream, PiecesEndOnBlockBoundariesAndLeaveNothingBuffered) {
    const std::string body = Pattern(3 * 32768 * 10 + 5);
    ScriptedServer server({{Send("head\n" + body)}});
    BufferWatchingClient client;
    std::vector<int32_t> counts;
    size_t largestLeftOver = 0;
    client.OnWork = [&](TIdComponent*, TWorkMode, int32_t count) {
        counts.push_back(count);
        largestLeftOver = std::max(largestLeftOver, client.BufferedInput());
    };
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(), "head");
    TMemoryStream stream;
    client.ReadIntoStream(stream, static_cast<int64_t>(body.size()), false);
    EXPECT_EQ(stream.Data(), body);
    // A block received after a remainder would have to be moved to the buffer's start piece after piece.
    EXPECT_EQ(largestLeftOver, 0u);
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), static_cast<int32_t>(body.size()));
    for (size_t i = 1; i + 1 < counts.size(); ++i) EXPECT_EQ(counts[i] % 32768, 0) << "piece " << i;
}

TEST(TcpReadIntoStream, UntilCloseLeavesTheLastBytesUnreported) {
    ScriptedServer server({{Send("h\n"), AwaitRequest(), Send(Pattern(1000)), Close()}, {Send("h\n"), Close()}});
    TIdTCPClient client;
    WorkLog log;
    log.Attach(client);
    Connect(client, server);
    client.ReadLine();
    client.SendText("more\r\n\r\n");
    TMemoryStream stream;
    client.ReadIntoStream(stream, -1, true);
    EXPECT_EQ(stream.Data(), Pattern(1000));
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 0", "end"}));

    log.events.clear();
    client.CloseConnection();
    Connect(client, server);
    client.ReadLine();
    TMemoryStream empty;
    client.ReadIntoStream(empty, -1, true);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 0", "end"}));
}

TEST(TcpReadIntoStream, ShortCountedBodyFailsKeepsWhatArrivedAndNeverPreallocates) {
    const std::string arrived = Pattern(40000);
    ScriptedServer server({{Send(arrived), Close()}});
    TIdTCPClient client;
    Connect(client, server);
    TMemoryStream stream;
    int64_t largestSizeSeen = 0;
    client.OnWork = [&](TIdComponent*, TWorkMode, int32_t) { largestSizeSeen = std::max(largestSizeSeen, stream.Size()); };
    EXPECT_THROW(client.ReadIntoStream(stream, 2000000000, false), EIdConnClosedGracefully);
    EXPECT_EQ(stream.Data(), arrived);
    EXPECT_LE(largestSizeSeen, static_cast<int64_t>(arrived.size()));
}

TEST(TcpReadTimeout, SilentPeerUnderALimitRaisesReadTimeout) {
    ScriptedServer server({{Stall()}});
    TIdTCPClient client;
    client.ReadTimeout = 100;
    Connect(client, server);
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
    std::string bytes;
    EXPECT_THROW(client.ReadExact(bytes, 1), EIdReadTimeout);
    EXPECT_EQ(client.FillInput(true, 10, false), -1);
}

TEST(TcpErrors, SocketErrorsCarryTheWinSockCodeAndText) {
    EXPECT_STREQ(SocketErrorText(10035), "Operation would block. ");
    EXPECT_EQ(EIdSocketError(12345).Message(), "Socket Error # 12345\r\n");

    int refusedPort;
    {
        ScriptedServer closedSoon({});
        refusedPort = closedSoon.Port();
    }
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusedPort);
    try {
        client.OpenConnection();
        ADD_FAILURE() << "connected to a closed port";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(client.IsOpen());
    try {
        client.OpenConnection(2000);
        ADD_FAILURE() << "connected to a closed port";
    } catch (const EIdConnectException& e) {
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }

    client.SetHost("no-such-host.invalid");
    try {
        client.OpenConnection();
        ADD_FAILURE() << "resolved an invalid name";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    std::string bytes;
    EXPECT_THROW(client.ReadExact(bytes, 1), EIdNotConnected);
    EXPECT_THROW(client.SendText("x"), EIdNotConnected);
}

TEST(TcpSend, BatchLeavesInOneSendAndStatusEventsAreReported) {
    ScriptedServer server({{AwaitRequest(), Send("ok\n")}});
    TIdTCPClient client;
    std::vector<std::string> statuses;
    client.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { statuses.push_back(text); };
    std::vector<int32_t> writes;
    client.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
        if (mode == wmWrite) writes.push_back(count);
    };
    client.SetHost("localhost");
    client.SetPort(server.Port());
    client.OpenConnection();
    EXPECT_THROW(client.OpenConnection(), EIdAlreadyConnected);
    client.StartWork(wmWrite, 0);
    client.StartWriteBatch();
    client.SendLine("GET / HTTP/1.1");
    client.SendLine("Host: x");
    client.SendLine("");
    EXPECT_TRUE(writes.empty());
    client.EndWriteBatch();
    client.FinishWork(wmWrite);
    EXPECT_EQ(writes, (std::vector<int32_t>{27}));
    EXPECT_EQ(client.ReadLine(), "ok");
    EXPECT_EQ(server.Received(0), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    client.CloseConnection();
    EXPECT_EQ(statuses, (std::vector<std::string>{"Resolving hostname localhost.", "Connecting to 127.0.0.1.",
                                                  "Connected.", "Disconnecting.", "Disconnected."}));
}

TEST(TcpConnect, ALimitedConnectToAPeerThatNeverAnswersTimesOut) {
    FullListener listener;
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    EXPECT_THROW(client.OpenConnection(300), EIdConnectTimeout);
    EXPECT_FALSE(client.IsOpen());
}

#ifndef _WIN32  // Windows has no POSIX signals (sigaction, pthread_kill) to interrupt a blocked connect.
TEST(TcpConnect, ASignalDuringAPlainConnectDoesNotEndIt) {
    struct sigaction quiet {}, previous{};
    quiet.sa_handler = [](int) {};  // no SA_RESTART: the blocked connect returns EINTR
    ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &previous), 0);
    FullListener listener;
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    std::string failure;
    std::thread connecting([&] {
        try {
            client.OpenConnection();
        } catch (const EIdException& e) {
            failure = e.Message();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::pthread_kill(connecting.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Room in the queue: the connect that went on in the background completes with the next SYN.
    listener.Release();
    connecting.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(client.IsOpen());
}
#endif

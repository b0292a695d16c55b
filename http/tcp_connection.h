#pragma once
// The blocking TCP layer under the HTTP client: a connection to Host:Port with a buffered input side (lines,
// exact counts, bodies into a stream), a send side with write batches, status and work events. Everything runs
// on the calling thread; the one call allowed from another thread is CloseConnection, which aborts a blocked
// transfer without freeing anything the transferring thread is still using.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "http/exceptions.h"
#include "platform/stream.h"

enum TWorkMode { wmRead, wmWrite };
enum TIdStatus { hsResolving, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected, hsStatusText,
                 ftpTransfer, ftpReady, ftpAborted };
enum TIdMaxLineAction { maException, maSplit };

class TIdComponent;
using TIdStatusEvent = std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode)>;
using TNotifyEvent = std::function<void(TIdComponent* Sender)>;

class TIdBaseComponent {
public:
    virtual ~TIdBaseComponent() = default;
};

// Event slots and the work bookkeeping: AWorkCount is a running total since the outermost StartWork of a mode.
class TIdComponent : public TIdBaseComponent {
public:
    TIdStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    void StartWork(TWorkMode mode, int64_t countMax);
    void AddWork(TWorkMode mode, int64_t count);
    void FinishWork(TWorkMode mode);
    // Formats the text of the status with the argument (host, address or free text) and reports it.
    void ReportStatus(TIdStatus status, const std::string& argument = "");

private:
    struct WorkState {
        int level = 0;
        int64_t countMax = 0;
        int64_t count = 0;
    };
    WorkState work_[2];
};

// Received bytes not yet taken: consuming from the front moves an offset, and the rest is moved to the front
// only once a whole receive block has been consumed, so taking small pieces stays linear.
class TIdManagedBuffer {
public:
    static constexpr size_t CompactThreshold = 32768;

    size_t Size() const { return end_ - begin_; }
    const char* Data() const { return block_.get() + begin_; }
    // Room for at least n more bytes at the end; Commit says how many of them were filled.
    char* PrepareAppend(size_t n);
    void Commit(size_t n) { end_ += n; }
    void Remove(size_t n);
    void Clear() { begin_ = end_ = 0; }

private:
    std::unique_ptr<char[]> block_;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
};

namespace platform {
class Socket;
}
// The socket under a connection: the platform's socket, whose WinSock codes the connection turns into its
// exceptions.
using TIdIOHandlerSocket = platform::Socket;

class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection();
    ~TIdTCPConnection() override;
    TIdTCPConnection(const TIdTCPConnection&) = delete;
    TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

    int MaxLineLength = 16384;
    TIdMaxLineAction MaxLineAction = maException;
    int ReadTimeout = 0;  // milliseconds; 0 waits without limit
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;
    TNotifyEvent OnDisconnected;

    TIdIOHandlerSocket* IOHandler() const { return ioHandler_.get(); }
    bool ReadLnSplit() const { return readLnSplit_; }
    bool ReadLnTimedOut() const { return readLnTimedOut_; }

    // From another thread while a transfer runs: wakes the transfer, which then ends with an EIdException and
    // closes the socket itself. Otherwise an orderly close with status events.
    void CloseConnection();
    // Closes the socket without events and marks the peer closed.
    void DropSocket();
    bool IsOpen();
    void PollPeerClosed(bool raiseIfClosed, bool ignoreBuffer);
    // One wait and receive: bytes received, 0 when the peer closed, -1 on an unraised timeout. A limit of -1
    // means ReadTimeout.
    int FillInput(bool raiseIfClosed, int limit, bool raiseOnTimeout);

    std::string ReadLine(const std::string& terminator = "\n", int maxLength = -1);
    void ReadExact(std::string& dest, int64_t count);
    // Appends count bytes (or, with untilClose, everything up to the peer's close) to the stream at its position.
    void ReadIntoStream(TStream& stream, int64_t count, bool untilClose);

    void SendText(const std::string& text);
    void SendLine(const std::string& text) { SendText(text + "\r\n"); }
    void SendBytes(const char* bytes, int64_t count, bool sendNow = false);
    void StartWriteBatch(int threshold = -1);
    void FlushWriteBatch(int count = -1);
    void EndWriteBatch();

protected:
    // Connects the socket handler to host:port, creating it when there is none. A limit above 0 bounds the
    // connect, 0 or -1 connects without limit.
    void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int limit);
    // Hands the connection an already connected descriptor (tests and fuzzing); it owns it from now on.
    void AdoptConnectedSocket(int fd);
    // The orderly close itself, for the thread that owns the transfer.
    void CloseNow();
    virtual void DoOnConnected() {}
    virtual void DoOnDisconnected();
    // Bytes received but not yet read.
    size_t BufferedInput() const { return input_.Size(); }
    // Whether another thread has asked this transfer to end.
    bool CloseRequested() const { return closeRequested_.load(); }

    // Marks the span of one transfer on the calling thread, so that a CloseConnection from elsewhere is deferred
    // to the end of the span instead of pulling the socket handler from under it.
    class TransferScope {
    public:
        explicit TransferScope(TIdTCPConnection& connection);
        ~TransferScope();
        TransferScope(const TransferScope&) = delete;
        TransferScope& operator=(const TransferScope&) = delete;

    private:
        TIdTCPConnection& connection_;
    };

private:
    void OpenHandler();
    bool HandlerAllocated() const;
    // FillInput receiving at most the given number of bytes.
    int FillInputAtMost(bool raiseIfClosed, int limit, bool raiseOnTimeout, size_t most);
    void WaitForBuffered(size_t count);
    size_t ReceiveBlock() const;
    int ReceiveIntoBuffer(size_t most);
    void Consume(size_t count);
    size_t CopyBufferedToStream(TStream& stream, int64_t count);
    int32_t ReadInt32();
    void SendNow(const char* bytes, size_t count);
    bool FindLine(const std::string& terminator, size_t& lineEnd);
    std::string TakeLine(size_t lineLength, size_t terminatorLength, bool stripCR);

    std::unique_ptr<TIdIOHandlerSocket> ioHandler_;
    TIdManagedBuffer input_;
    size_t searchedUpTo_ = 0;
    std::unique_ptr<std::string> writeBatch_;
    int writeBatchThreshold_ = -1;
    bool peerClosed_ = false;
    bool readLnSplit_ = false;
    bool readLnTimedOut_ = false;

    // Cross-thread close: transferDepth_ and the handler change under closeLock_, and a close outside a transfer
    // holds it throughout, so a transfer cannot start halfway through one. Recursive: the close's own events
    // may close again.
    std::recursive_mutex closeLock_;
    int transferDepth_ = 0;
    std::atomic<bool> closeRequested_{false};
};

class TIdTCPClient : public TIdTCPConnection {
public:
    std::string BoundIP;
    int BoundPort = 0;
    TNotifyEvent OnConnected;

    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& value) { host_ = value; }
    int Port() const { return port_; }
    virtual void SetPort(int value) { port_ = value; }

    // Connects to Host:Port; a limit above 0 bounds the connect in milliseconds, 0 or -1 waits without limit.
    void OpenConnection(int limit = -1);
    // Whether the last connection opened led to this host (letter case ignored) and port.
    bool OpenedTo(const std::string& host, int port) const;

protected:
    void DoOnConnected() override;

    std::string host_;
    int port_ = 0;

private:
    std::string openedHost_;
    int openedPort_ = 0;
};

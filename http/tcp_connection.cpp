#include "http/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "http/header_list.h"
#include "http/uri.h"
#include "platform/socket.h"

namespace {

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string StatusText(TIdStatus status, const std::string& argument) {
    switch (status) {
        case hsResolving: return "Resolving hostname " + argument + ".";
        case hsConnecting: return "Connecting to " + argument + ".";
        case hsConnected: return "Connected.";
        case hsDisconnecting: return "Disconnecting.";
        case hsDisconnected: return "Disconnected.";
        default: return argument;
    }
}

// Send errors after which the socket is unusable.
bool IsConnectionLost(int code) { return code == 10058 || code == 10053 || code == 10054; }

// The dotted IPv4 address of a host: "localhost" (any case) is 127.0.0.1, a dotted address is used as it is,
// anything else is looked up (first IPv4 address).
std::string ResolveHostIPv4(const std::string& host) {
    if (httptext::SameText(host, "localhost")) return "127.0.0.1";
    if (IsDottedIPv4(host)) return host;
    std::string address;
    if (const int code = platform::LookUpHostIPv4(host, address); code != 0) throw EIdSocketError(code);
    return address;
}

// A fresh socket, bound to ip:port when either is given.
void AllocateSocket(TIdIOHandlerSocket& socket, const std::string& boundIP, int boundPort) {
    if (!socket.Open()) throw EIdInvalidSocket();
    if (boundIP.empty() && boundPort == 0) return;
    const int result = socket.Bind(boundIP, boundPort);
    if (result == platform::SocketBadAddress) throw EIdSocketError(platform::WsaAddressNotAvailable);
    if (result != 0) throw EIdCouldNotBindSocket();
}

// A plain connect fails with the socket error itself; one with a limit carries the error's message in an
// EIdConnectException, or times out.
void ConnectSocket(TIdIOHandlerSocket& socket, const std::string& ip, int port, int limit) {
    const int result = socket.Connect(ip, port, limit);
    if (result == 0) return;
    if (result == platform::SocketBadAddress) throw EIdSocketError(platform::WsaAddressNotAvailable);
    if (result == platform::SocketTimedOut) throw EIdConnectTimeout();
    if (limit <= 0) throw EIdSocketError(result);
    throw EIdConnectException(EIdSocketError(result).Message(), result);
}

}  // namespace

// --- work and status ---

void TIdComponent::StartWork(TWorkMode mode, int64_t countMax) {
    WorkState& work = work_[mode];
    if (++work.level != 1) return;
    work.countMax = countMax;
    work.count = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, ClampToInt32(countMax));
}

void TIdComponent::AddWork(TWorkMode mode, int64_t count) {
    WorkState& work = work_[mode];
    if (work.level == 0) return;
    work.count += count;
    if (OnWork) OnWork(this, mode, ClampToInt32(work.count));
}

void TIdComponent::FinishWork(TWorkMode mode) {
    WorkState& work = work_[mode];
    if (work.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
    if (work.level > 0) --work.level;
}

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument) {
    if (OnStatus) OnStatus(this, status, StatusText(status, argument));
}

// --- input buffer ---

char* TIdManagedBuffer::PrepareAppend(size_t n) {
    if (begin_ == end_) Clear();
    if (capacity_ - end_ >= n) return block_.get() + end_;
    const size_t size = Size();
    if (begin_ > 0 && capacity_ - size >= n) {
        std::memmove(block_.get(), block_.get() + begin_, size);
    } else {
        const size_t capacity = std::max(capacity_ * 2, size + n);
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (size > 0) std::memcpy(grown.get(), block_.get() + begin_, size);
        block_ = std::move(grown);
        capacity_ = capacity;
    }
    begin_ = 0;
    end_ = size;
    return block_.get() + end_;
}

void TIdManagedBuffer::Remove(size_t n) {
    if (n > Size()) throw EIdNotEnoughDataInBuffer();
    begin_ += n;
    if (begin_ == end_) {
        Clear();
    } else if (begin_ >= CompactThreshold) {
        std::memmove(block_.get(), block_.get() + begin_, Size());
        end_ -= begin_;
        begin_ = 0;
    }
}

// --- connection life ---

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() = default;

TIdTCPConnection::TransferScope::TransferScope(TIdTCPConnection& connection) : connection_(connection) {
    std::lock_guard<std::recursive_mutex> lock(connection_.closeLock_);
    ++connection_.transferDepth_;
}

TIdTCPConnection::TransferScope::~TransferScope() {
    std::lock_guard<std::recursive_mutex> lock(connection_.closeLock_);
    if (--connection_.transferDepth_ > 0) return;
    if (connection_.closeRequested_.exchange(false) && connection_.ioHandler_) connection_.CloseNow();
}

void TIdTCPConnection::CloseConnection() {
    std::lock_guard<std::recursive_mutex> lock(closeLock_);
    if (transferDepth_ == 0) {
        CloseNow();
        return;
    }
    // The transferring thread notices the flag or the shut-down socket, fails its read or send and closes the
    // socket itself when the transfer ends.
    closeRequested_ = true;
    if (ioHandler_) ioHandler_->Shutdown();
}

void TIdTCPConnection::CloseNow() {
    ReportStatus(hsDisconnecting);
    DropSocket();
    {
        std::lock_guard<std::recursive_mutex> lock(closeLock_);
        ioHandler_.reset();
    }
    DoOnDisconnected();
    ReportStatus(hsDisconnected);
}

void TIdTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::DropSocket() {
    peerClosed_ = true;
    if (!ioHandler_) return;
    std::lock_guard<std::recursive_mutex> lock(closeLock_);
    ioHandler_->Close();
}

bool TIdTCPConnection::HandlerAllocated() const { return ioHandler_ && ioHandler_->Allocated(); }

bool TIdTCPConnection::IsOpen() {
    PollPeerClosed(false, false);
    return HandlerAllocated();
}

void TIdTCPConnection::PollPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
    if (!ioHandler_) return;
    if (closeRequested_.load()) peerClosed_ = true;
    if (peerClosed_ && ioHandler_->Allocated()) {
        DropSocket();
        ReportStatus(hsDisconnected);
        DoOnDisconnected();
    }
    const bool closed = !ioHandler_->Allocated();
    if (closed && raiseIfClosed && (input_.Size() == 0 || ignoreBuffer)) throw EIdConnClosedGracefully();
}

void TIdTCPConnection::OpenHandler() {
    if (!ioHandler_) {
        std::lock_guard<std::recursive_mutex> lock(closeLock_);
        ioHandler_ = std::make_unique<TIdIOHandlerSocket>();
    } else if (ioHandler_->Allocated()) {
        throw EIdAlreadyConnected();
    }
    input_.Clear();
    searchedUpTo_ = 0;
    peerClosed_ = false;
}

void TIdTCPConnection::ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                 int limit) {
    TransferScope scope(*this);
    OpenHandler();
    try {
        {
            std::lock_guard<std::recursive_mutex> lock(closeLock_);
            AllocateSocket(*ioHandler_, boundIP, boundPort);
        }
        if (!IsDottedIPv4(host)) ReportStatus(hsResolving, host);
        const std::string ip = ResolveHostIPv4(host);
        ReportStatus(hsConnecting, ip);
        ConnectSocket(*ioHandler_, ip, port, limit);
        if (closeRequested_.load()) throw EIdConnClosedGracefully();
        ReportStatus(hsConnected, host);
        DoOnConnected();
    } catch (...) {
        CloseNow();
        throw;
    }
}

void TIdTCPConnection::AdoptConnectedSocket(int fd) {
    OpenHandler();
    std::lock_guard<std::recursive_mutex> lock(closeLock_);
    ioHandler_->Adopt(fd);
}

// --- receiving ---

int TIdTCPConnection::FillInput(bool raiseIfClosed, int limit, bool raiseOnTimeout) {
    return FillInputAtMost(raiseIfClosed, limit, raiseOnTimeout, ReceiveBlock());
}

int TIdTCPConnection::FillInputAtMost(bool raiseIfClosed, int limit, bool raiseOnTimeout, size_t most) {
    TransferScope scope(*this);
    if (limit == -1) limit = ReadTimeout > 0 ? ReadTimeout : -1;
    int received;
    do {
        PollPeerClosed(raiseIfClosed, false);
        if (!HandlerAllocated()) {
            if (raiseIfClosed) throw EIdNotConnected();
            return 0;
        }
        const TIdIOHandlerSocket::Readiness readiness = ioHandler_->WaitReadable(limit);
        if (readiness == TIdIOHandlerSocket::Readiness::Closed) throw EIdConnClosedGracefully();
        if (readiness == TIdIOHandlerSocket::Readiness::Quiet) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        received = ReceiveIntoBuffer(most);
        PollPeerClosed(raiseIfClosed, false);
    } while (received == 0 && HandlerAllocated());
    return received;
}

size_t TIdTCPConnection::ReceiveBlock() const { return static_cast<size_t>(std::max(RecvBufferSize, 1)); }

int TIdTCPConnection::ReceiveIntoBuffer(size_t most) {
    const long received = ioHandler_->Receive(input_.PrepareAppend(most), most);
    if (received > 0) {
        input_.Commit(static_cast<size_t>(received));
        return static_cast<int>(received);
    }
    if (received == 0) {
        peerClosed_ = true;
        return 0;
    }
    const int code = static_cast<int>(-received);
    if (code == 10058 || code == 10053) {
        DropSocket();
        if (input_.Size() > 0) return 0;
    }
    throw EIdSocketError(code);
}

void TIdTCPConnection::Consume(size_t count) {
    input_.Remove(count);
    searchedUpTo_ = 0;
    AddWork(wmRead, static_cast<int64_t>(count));
}

bool TIdTCPConnection::FindLine(const std::string& terminator, size_t& lineEnd) {
    const size_t size = input_.Size();
    const size_t from = searchedUpTo_ >= terminator.size() ? searchedUpTo_ - (terminator.size() - 1) : 0;
    const size_t found = std::string_view(input_.Data(), size).find(terminator, from);
    if (found != std::string_view::npos) {
        lineEnd = found;
        return true;
    }
    searchedUpTo_ = size;
    return false;
}

std::string TIdTCPConnection::TakeLine(size_t lineLength, size_t terminatorLength, bool stripCR) {
    std::string line(input_.Data(), lineLength);
    Consume(std::min(lineLength + terminatorLength, input_.Size()));
    if (stripCR && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int maxLength) {
    TransferScope scope(*this);
    const std::string& term = terminator.empty() ? std::string("\n") : terminator;
    const size_t limit = maxLength == -1 ? static_cast<size_t>(MaxLineLength)
                         : maxLength <= 0 ? std::numeric_limits<size_t>::max()
                                          : static_cast<size_t>(maxLength);
    const bool stripCR = term == "\n";
    readLnSplit_ = false;
    readLnTimedOut_ = false;
    for (;;) {
        size_t lineEnd = 0;
        const bool found = FindLine(term, lineEnd);
        if ((found && lineEnd > limit) || (!found && input_.Size() > limit)) {
            if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
            readLnSplit_ = true;
            return TakeLine(limit, 0, false);
        }
        if (found) return TakeLine(lineEnd, term.size(), stripCR);
        PollPeerClosed(true, true);
        if (FillInput(true, -1, true) == 0) {
            readLnTimedOut_ = true;
            return "";
        }
    }
}

// Receives only the bytes still missing (at most a block): a body piece then leaves nothing behind it in the
// buffer, so the next block lands at the buffer's start instead of after a remainder that has to be moved there.
void TIdTCPConnection::WaitForBuffered(size_t count) {
    while (input_.Size() < count) {
        FillInputAtMost(true, -1, true, std::min(ReceiveBlock(), count - input_.Size()));
        PollPeerClosed(true, true);
    }
}

void TIdTCPConnection::ReadExact(std::string& dest, int64_t count) {
    if (count <= 0) return;
    TransferScope scope(*this);
    const size_t wanted = static_cast<size_t>(count);
    WaitForBuffered(wanted);
    dest.append(input_.Data(), wanted);
    Consume(wanted);
}

int32_t TIdTCPConnection::ReadInt32() {
    std::string bytes;
    ReadExact(bytes, 4);
    uint32_t value = 0;
    for (unsigned char byte : bytes) value = (value << 8) | byte;
    return static_cast<int32_t>(value);
}

size_t TIdTCPConnection::CopyBufferedToStream(TStream& stream, int64_t count) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(input_.Size())));
    if (n == 0) return 0;
    stream.WriteBuffer(input_.Data(), static_cast<int64_t>(n));
    Consume(n);
    return n;
}

// The stream is never grown ahead of what arrives: a stated length is the peer's claim, not a promise.
void TIdTCPConnection::ReadIntoStream(TStream& stream, int64_t count, bool untilClose) {
    TransferScope scope(*this);
    if (count < 0 && !untilClose) count = ReadInt32();
    StartWork(wmRead, untilClose ? 0 : std::max<int64_t>(count, 0));
    try {
        int64_t remaining = untilClose ? std::numeric_limits<int64_t>::max() : count;
        int64_t copied = static_cast<int64_t>(CopyBufferedToStream(stream, remaining));
        remaining -= copied;
        const int64_t piece = std::max(RecvBufferSize, 1);
        while (remaining > 0 && IsOpen()) {
            // Pieces end on whole multiples of the piece size from the body's start, so a file written from its
            // beginning gets page-aligned writes even when the head's read brought a part of the body along.
            const int64_t toBoundary = piece - copied % piece;
            const size_t wanted = static_cast<size_t>(std::min(remaining, toBoundary));
            try {
                WaitForBuffered(wanted);
            } catch (const EIdConnClosedGracefully&) {
                // A counted body cut short keeps every byte that arrived; the caller learns it is incomplete.
                if (!untilClose) {
                    CopyBufferedToStream(stream, remaining);
                    throw;
                }
                // The last bytes before the close end the body; they are not reported as work.
                stream.WriteBuffer(input_.Data(), static_cast<int64_t>(input_.Size()));
                input_.Clear();
                break;
            }
            const auto piecesCopied = static_cast<int64_t>(CopyBufferedToStream(stream, static_cast<int64_t>(wanted)));
            remaining -= piecesCopied;
            copied += piecesCopied;
        }
        if (!untilClose && remaining > 0) {
            remaining -= static_cast<int64_t>(CopyBufferedToStream(stream, remaining));
            if (remaining > 0) throw EIdConnClosedGracefully();
        }
    } catch (...) {
        FinishWork(wmRead);
        throw;
    }
    FinishWork(wmRead);
}

// --- sending ---

void TIdTCPConnection::SendText(const std::string& text) {
    if (!text.empty()) SendBytes(text.data(), static_cast<int64_t>(text.size()));
}

void TIdTCPConnection::SendBytes(const char* bytes, int64_t count, bool sendNow) {
    if (count <= 0) return;
    TransferScope scope(*this);
    PollPeerClosed(true, true);
    if (!HandlerAllocated()) throw EIdNotConnected();
    if (sendNow || !writeBatch_) {
        SendNow(bytes, static_cast<size_t>(count));
        return;
    }
    writeBatch_->append(bytes, static_cast<size_t>(count));
    if (writeBatchThreshold_ > 0 && writeBatch_->size() >= static_cast<size_t>(writeBatchThreshold_))
        FlushWriteBatch(writeBatchThreshold_);
}

void TIdTCPConnection::SendNow(const char* bytes, size_t count) {
    size_t offset = 0;
    while (offset < count) {
        if (!HandlerAllocated()) throw EIdNotConnected();
        const long sent = ioHandler_->Send(bytes + offset, count - offset);
        if (sent == 0) peerClosed_ = true;
        PollPeerClosed(true, false);
        if (sent < 0) {
            const int code = static_cast<int>(-sent);
            if (IsConnectionLost(code)) DropSocket();
            throw EIdSocketError(code);
        }
        offset += static_cast<size_t>(sent);
        AddWork(wmWrite, sent);
    }
}

void TIdTCPConnection::StartWriteBatch(int threshold) {
    writeBatch_ = std::make_unique<std::string>();
    writeBatchThreshold_ = threshold;
}

void TIdTCPConnection::FlushWriteBatch(int count) {
    if (!writeBatch_ || writeBatch_->empty()) return;
    std::string bytes;
    if (count != -1 && writeBatch_->size() >= static_cast<size_t>(count)) {
        bytes = writeBatch_->substr(0, static_cast<size_t>(count));
        writeBatch_->erase(0, static_cast<size_t>(count));
    } else {
        bytes.swap(*writeBatch_);
    }
    SendBytes(bytes.data(), static_cast<int64_t>(bytes.size()), true);
}

void TIdTCPConnection::EndWriteBatch() {
    try {
        FlushWriteBatch();
    } catch (...) {
        writeBatch_.reset();
        throw;
    }
    writeBatch_.reset();
}

// --- client ---

void TIdTCPClient::OpenConnection(int limit) {
    openedHost_ = host_;
    openedPort_ = port_;
    ConnectTo(host_, port_, BoundIP, BoundPort, limit);
}

bool TIdTCPClient::OpenedTo(const std::string& host, int port) const {
    return httptext::SameText(openedHost_, host) && openedPort_ == port;
}

void TIdTCPClient::DoOnConnected() {
    if (OnConnected) OnConnected(this);
}

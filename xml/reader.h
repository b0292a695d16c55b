#pragma once
// A pull tokenizer for 8-bit XML text: each Next reads one piece of markup from a stream, forward only.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "platform/stream.h"

class EXmlReader : public Exception {
public:
    using Exception::Exception;
};

// A block-buffered byte source over a stream that is only ever read forward, never sought.
class TTextReader {
public:
    TTextReader(TStream& stream, std::uint16_t bufferSize);

    bool AtEnd() {
        return position_ == end_ && !Fill();
    }
    // The next byte, or -1 at the end of the stream.
    int ReadByte() {
        if (AtEnd()) {
            return -1;
        }
        return static_cast<unsigned char>(buffer_[position_++]);
    }
    // The bytes buffered but not yet read, refilled when none are left; empty at the end of the stream.
    std::string_view Buffered() {
        if (AtEnd()) {
            return {};
        }
        return {buffer_.get() + position_, end_ - position_};
    }
    void Skip(std::size_t count) { position_ += count; }

private:
    bool Fill();

    TStream& stream_;
    std::uint16_t bufferSize_;
    std::unique_ptr<char[]> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

// A set of stop bytes for the run readers.
class TByteSet {
public:
    constexpr TByteSet(std::string_view bytes, bool withWhitespace) : member_() {
        for (char c : bytes) {
            member_[static_cast<unsigned char>(c)] = true;
        }
        for (int c = 0; withWhitespace && c <= 32; ++c) {
            member_[c] = true;
        }
    }
    constexpr bool Contains(int c) const { return c >= 0 && member_[c]; }

private:
    bool member_[256];
};

// The reader's character source: the byte source with a push-back stack in front of it.
class TXmlReaderStream {
public:
    TXmlReaderStream(TStream* stream, bool ownsStream);
    ~TXmlReaderStream();
    TXmlReaderStream(const TXmlReaderStream&) = delete;
    TXmlReaderStream& operator=(const TXmlReaderStream&) = delete;

    bool AtEnd() { return pushBack_.empty() && text_.AtEnd(); }
    // The next character, or NUL at the end; without Consume it stays to be read again.
    char ReadChar(bool consume);
    // The next character, or -1 at the end.
    int Get() {
        if (!pushBack_.empty()) {
            char c = pushBack_.back();
            pushBack_.pop_back();
            return static_cast<unsigned char>(c);
        }
        return text_.ReadByte();
    }
    void PushBack(char c) { pushBack_.push_back(c); }
    // Text is read again from its first character.
    void PushBack(std::string_view text) { pushBack_.append(text.rbegin(), text.rend()); }
    bool MatchLiteral(std::string_view literal, bool consume);
    void SkipWhitespace();
    // Appends to Out every character up to the first one in Stop, which is left unread; returns that
    // character, or -1 when the input ended first. Whole buffered runs are appended at once.
    int ReadRun(std::string& out, const TByteSet& stop);
    // ReadRun with a single stop character.
    int ReadRunTo(std::string& out, char stop);
    // The next character without reading it, or -1 at the end.
    int Peek();

private:
    bool ownsStream_;
    TStream* stream_;
    TTextReader text_;
    std::string pushBack_;
};

enum TXmlTokenKind : std::uint8_t {
    xtProcessingInstruction,
    xtDocumentType,
    xtComment,
    xtCData,
    xtStartElement,
    xtEndElement,
    xtAttribute,
    xtText,
    xtEndOfDocument
};

class TXmlReader {
public:
    TXmlReader();
    ~TXmlReader();
    TXmlReader(const TXmlReader&) = delete;
    TXmlReader& operator=(const TXmlReader&) = delete;

    void Open(TStream* stream, bool ownsStream);
    void Close();
    TXmlTokenKind Next();
    int Depth() const noexcept { return static_cast<int>(elements_.size()); }

    TXmlTokenKind TokenKind() const noexcept { return tokenKind_; }
    const std::string& TokenName() const noexcept { return tokenName_; }
    const std::string& TokenValue() const noexcept { return tokenValue_; }

private:
    TXmlTokenKind EndOfDocument();
    TXmlTokenKind ReadMarkup();
    TXmlTokenKind ReadSpecial();
    // Skips whitespace, reads the name of an instruction or document type up to Stop, skips whitespace.
    void ReadLeadingName(const TByteSet& stop, const char* missingMessage);
    TXmlTokenKind ReadProcessingInstruction();
    TXmlTokenKind ReadDocumentType();
    TXmlTokenKind ReadComment();
    TXmlTokenKind ReadCData();
    TXmlTokenKind ReadStartTag();
    TXmlTokenKind ReadInTag();
    TXmlTokenKind ReadAttribute();
    void ReadAttributeValue();
    TXmlTokenKind ReadEndTag();
    TXmlTokenKind ReadText();
    // Skips whitespace and reads the character after it, or -1 at the end.
    int SkipWhitespaceAndGet();

    TXmlTokenKind tokenKind_ = xtEndOfDocument;
    std::string tokenName_;
    std::string tokenValue_;
    bool atEnd_ = true;
    bool inTag_ = false;
    std::vector<std::string> elements_;
    std::unique_ptr<TXmlReaderStream> source_;
};

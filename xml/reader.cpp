#include "xml/reader.h"

#include <cstring>

namespace {

const char kUnexpectedEnd[] = "Ошибка в XML-документе: неожидаемое завершение текста";
const char kUnknownSpecial[] = "Ошибка в XML-документе: неизвестная специальная инструкция";
const char kTextOutsideElement[] = "Ошибка в XML-документе: текст вне элемента";
const char kNoInstructionName[] = "Ошибка в XML-документе: не задано имя в обрабатывающей инструкции";
const char kInstructionEnd[] = "Ошибка в XML-документе: ожидается \"?>\"";
const char kNoDocumentTypeName[] = "Ошибка в XML-документе: не задано имя в типе документа";
const char kDocumentTypeEnd[] = "Ошибка в XML-документе: ожидается \">\" для типа документа";
const char kCommentEnd[] = "Ошибка в XML-документе: ожидается \"-->\"";
const char kCDataClose[] = "Ошибка в XML-документе: ожидается \"]]>\"";
const char kCDataEnd[] = "Ошибка в XML-документе: ожидается \"]]\"";
const char kStartTagEnd[] = "Ошибка в XML-документе: ожидается \">\" для открывающего тэга элемента";
const char kNoStartTagName[] = "Ошибка в XML-документе: не задано имя открывающего тэга элемента";
const char kEndTagMismatch[] =
    "Ошибка в XML-документе: несоответствие имени закрывающего тэга имени открывающему";
const char kEndTagEnd[] = "Ошибка в XML-документе: ожидается \">\" для закрывающего тэга элемента";
const char kEmptyTagEnd[] = "Ошибка в XML-документе: ожидается \"/>\"";
const char kAttributeEquals[] = "Ошибка в XML-документе: ожидается \"=\" для атрибута элемента";
const char kNoAttributeName[] = "Ошибка в XML-документе: не задано имя атрибута элемента";
const char kNoAttributeValue[] = "Ошибка в XML-документе: не задано значение атрибута элемента";
const char kAttributeExpected[] = "Ошибка в XML-документе: ожидается атрибут элемента";

constexpr std::uint16_t kBlockSize = 4096;

constexpr TByteSet kInstructionTargetStop("?>", true);
constexpr TByteSet kNameStop(">", true);
constexpr TByteSet kTagNameStop("/>", true);
constexpr TByteSet kAttributeNameStop("=>", true);
constexpr TByteSet kAngleBrackets("<>", false);

bool IsWhitespace(int c) { return c >= 0 && c <= 32; }

}  // namespace

// --- TTextReader ---

TTextReader::TTextReader(TStream& stream, std::uint16_t bufferSize)
    : stream_(stream), bufferSize_(bufferSize), buffer_(new char[bufferSize]) {}

bool TTextReader::Fill() {
    position_ = 0;
    std::int64_t read = stream_.Read(buffer_.get(), bufferSize_);
    end_ = read > 0 ? static_cast<std::size_t>(read) : 0;
    return end_ > 0;
}

// --- TXmlReaderStream ---

TXmlReaderStream::TXmlReaderStream(TStream* stream, bool ownsStream)
    : ownsStream_(ownsStream), stream_(stream), text_(*stream, kBlockSize) {}

TXmlReaderStream::~TXmlReaderStream() {
    if (ownsStream_) {
        delete stream_;
    }
}

char TXmlReaderStream::ReadChar(bool consume) {
    int c = Get();
    if (c < 0) {
        return '\0';
    }
    if (!consume) {
        PushBack(static_cast<char>(c));
    }
    return static_cast<char>(c);
}

bool TXmlReaderStream::MatchLiteral(std::string_view literal, bool consume) {
    for (std::size_t matched = 0; matched < literal.size(); ++matched) {
        int c = Get();
        if (c != static_cast<unsigned char>(literal[matched])) {
            if (c >= 0) {
                PushBack(static_cast<char>(c));
            }
            PushBack(literal.substr(0, matched));
            return false;
        }
    }
    if (!consume) {
        PushBack(literal);
    }
    return true;
}

void TXmlReaderStream::SkipWhitespace() {
    while (!pushBack_.empty()) {
        if (!IsWhitespace(static_cast<unsigned char>(pushBack_.back()))) {
            return;
        }
        pushBack_.pop_back();
    }
    for (std::string_view block = text_.Buffered(); !block.empty(); block = text_.Buffered()) {
        std::size_t skipped = 0;
        while (skipped < block.size() && IsWhitespace(static_cast<unsigned char>(block[skipped]))) {
            ++skipped;
        }
        text_.Skip(skipped);
        if (skipped < block.size()) {
            return;
        }
    }
}

int TXmlReaderStream::ReadRun(std::string& out, const TByteSet& stop) {
    while (!pushBack_.empty()) {
        char c = pushBack_.back();
        if (stop.Contains(static_cast<unsigned char>(c))) {
            return static_cast<unsigned char>(c);
        }
        out.push_back(c);
        pushBack_.pop_back();
    }
    for (std::string_view block = text_.Buffered(); !block.empty(); block = text_.Buffered()) {
        std::size_t length = 0;
        while (length < block.size() && !stop.Contains(static_cast<unsigned char>(block[length]))) {
            ++length;
        }
        out.append(block.data(), length);
        text_.Skip(length);
        if (length < block.size()) {
            return static_cast<unsigned char>(block[length]);
        }
    }
    return -1;
}

int TXmlReaderStream::ReadRunTo(std::string& out, char stop) {
    while (!pushBack_.empty()) {
        char c = pushBack_.back();
        if (c == stop) {
            return static_cast<unsigned char>(c);
        }
        out.push_back(c);
        pushBack_.pop_back();
    }
    for (std::string_view block = text_.Buffered(); !block.empty(); block = text_.Buffered()) {
        const void* found = std::memchr(block.data(), stop, block.size());
        std::size_t length = found ? static_cast<std::size_t>(static_cast<const char*>(found) - block.data())
                                   : block.size();
        out.append(block.data(), length);
        text_.Skip(length);
        if (found) {
            return static_cast<unsigned char>(stop);
        }
    }
    return -1;
}

int TXmlReaderStream::Peek() {
    if (!pushBack_.empty()) {
        return static_cast<unsigned char>(pushBack_.back());
    }
    std::string_view block = text_.Buffered();
    return block.empty() ? -1 : static_cast<unsigned char>(block[0]);
}

// --- TXmlReader ---

TXmlReader::TXmlReader() = default;

TXmlReader::~TXmlReader() { Close(); }

void TXmlReader::Open(TStream* stream, bool ownsStream) {
    Close();
    source_ = std::make_unique<TXmlReaderStream>(stream, ownsStream);
    tokenKind_ = xtEndOfDocument;
    atEnd_ = source_->AtEnd();
    elements_.clear();
    inTag_ = false;
}

void TXmlReader::Close() {
    source_.reset();
    tokenKind_ = xtEndOfDocument;
    atEnd_ = true;
    inTag_ = false;
    elements_.clear();
}

TXmlTokenKind TXmlReader::Next() {
    tokenName_.clear();
    tokenValue_.clear();
    if (atEnd_ || source_->AtEnd()) {
        return EndOfDocument();
    }
    tokenKind_ = inTag_ ? ReadInTag() : ReadMarkup();
    return tokenKind_;
}

TXmlTokenKind TXmlReader::EndOfDocument() {
    atEnd_ = true;
    tokenKind_ = xtEndOfDocument;
    return tokenKind_;
}

int TXmlReader::SkipWhitespaceAndGet() {
    source_->SkipWhitespace();
    return source_->Get();
}

TXmlTokenKind TXmlReader::ReadMarkup() {
    if (Depth() == 0) {
        // Whitespace between top-level constructs is never reported.
        source_->SkipWhitespace();
        if (source_->AtEnd()) {
            return EndOfDocument();
        }
    }
    if (source_->Peek() != '<') {
        if (Depth() == 0) {
            throw Exception(kTextOutsideElement);
        }
        return ReadText();
    }
    source_->Get();
    int kind = source_->Get();
    switch (kind) {
        case -1:
            throw Exception(kUnexpectedEnd);
        case '!':
            return ReadSpecial();
        case '/':
            return ReadEndTag();
        case '?':
            return ReadProcessingInstruction();
        default:
            source_->PushBack(static_cast<char>(kind));
            return ReadStartTag();
    }
}

TXmlTokenKind TXmlReader::ReadSpecial() {
    if (source_->MatchLiteral("--", true)) {
        return ReadComment();
    }
    if (source_->MatchLiteral("[CDATA[", true)) {
        return ReadCData();
    }
    if (source_->MatchLiteral("DOCTYPE", true)) {
        return ReadDocumentType();
    }
    throw Exception(kUnknownSpecial);
}

void TXmlReader::ReadLeadingName(const TByteSet& stop, const char* missingMessage) {
    source_->SkipWhitespace();
    source_->ReadRun(tokenName_, stop);
    if (tokenName_.empty()) {
        throw EXmlReader(missingMessage);
    }
    source_->SkipWhitespace();
}

TXmlTokenKind TXmlReader::ReadProcessingInstruction() {
    // A "?" or ">" that ends the target stays unread, to be part of the value.
    ReadLeadingName(kInstructionTargetStop, kNoInstructionName);
    for (;;) {
        if (source_->ReadRunTo(tokenValue_, '?') < 0) {
            throw EXmlReader(kInstructionEnd);
        }
        source_->Get();
        if (source_->Peek() == '>') {
            source_->Get();
            return xtProcessingInstruction;
        }
        tokenValue_.push_back('?');
    }
}

TXmlTokenKind TXmlReader::ReadDocumentType() {
    ReadLeadingName(kNameStop, kNoDocumentTypeName);
    // The internal subset travels as raw text; only angle brackets are counted.
    for (int nesting = 1;;) {
        int c = source_->ReadRun(tokenValue_, kAngleBrackets);
        if (c < 0) {
            throw EXmlReader(kDocumentTypeEnd);
        }
        source_->Get();
        nesting += c == '<' ? 1 : -1;
        if (nesting == 0) {
            return xtDocumentType;
        }
        tokenValue_.push_back(static_cast<char>(c));
    }
}

TXmlTokenKind TXmlReader::ReadComment() {
    for (;;) {
        if (source_->ReadRunTo(tokenValue_, '-') < 0) {
            throw EXmlReader(kCommentEnd);
        }
        source_->Get();
        if (source_->MatchLiteral("->", true)) {
            return xtComment;
        }
        tokenValue_.push_back('-');
    }
}

TXmlTokenKind TXmlReader::ReadCData() {
    for (;;) {
        if (source_->ReadRunTo(tokenValue_, ']') < 0) {
            throw EXmlReader(kCDataEnd);
        }
        source_->Get();
        if (source_->Peek() == ']') {
            source_->Get();
            break;
        }
        tokenValue_.push_back(']');
    }
    if (SkipWhitespaceAndGet() != '>') {
        throw Exception(kCDataClose);
    }
    return xtCData;
}

TXmlTokenKind TXmlReader::ReadStartTag() {
    source_->SkipWhitespace();
    if (source_->ReadRun(tokenName_, kTagNameStop) < 0) {
        throw EXmlReader(kStartTagEnd);
    }
    int c = SkipWhitespaceAndGet();
    if (c < 0) {
        throw EXmlReader(kStartTagEnd);
    }
    if (c != '>') {
        source_->PushBack(static_cast<char>(c));
        inTag_ = true;
    }
    elements_.push_back(tokenName_);
    if (tokenName_.empty()) {
        throw EXmlReader(kNoStartTagName);
    }
    return xtStartElement;
}

TXmlTokenKind TXmlReader::ReadInTag() {
    int c = SkipWhitespaceAndGet();
    if (c == '/') {
        if (source_->Get() != '>') {
            throw EXmlReader(kEmptyTagEnd);
        }
        tokenName_ = std::move(elements_.back());
        elements_.pop_back();
        inTag_ = false;
        return xtEndElement;
    }
    if (c >= 0) {
        source_->PushBack(static_cast<char>(c));
    }
    return ReadAttribute();
}

TXmlTokenKind TXmlReader::ReadAttribute() {
    if (source_->ReadRun(tokenName_, kAttributeNameStop) < 0) {
        throw EXmlReader(kNoAttributeName);
    }
    int c = SkipWhitespaceAndGet();
    if (c < 0) {
        throw EXmlReader(kNoAttributeValue);
    }
    if (c != '=') {
        throw EXmlReader(kAttributeEquals);
    }
    if (tokenName_.empty()) {
        throw EXmlReader(kNoAttributeName);
    }
    source_->SkipWhitespace();
    if (source_->AtEnd()) {
        throw EXmlReader(kNoAttributeValue);
    }
    ReadAttributeValue();
    return xtAttribute;
}

void TXmlReader::ReadAttributeValue() {
    int quote = source_->Get();
    if (quote == '"' || quote == '\'') {
        if (source_->ReadRunTo(tokenValue_, static_cast<char>(quote)) < 0) {
            throw EXmlReader(kAttributeExpected);
        }
        source_->Get();
    } else {
        // Unquoted: the value may be empty, as in "<a b=>".
        source_->PushBack(static_cast<char>(quote));
        source_->ReadRun(tokenValue_, kTagNameStop);
    }
    int next = SkipWhitespaceAndGet();
    if (next < 0) {
        throw EXmlReader(kAttributeExpected);
    }
    if (next == '>') {
        inTag_ = false;
    } else {
        source_->PushBack(static_cast<char>(next));
    }
}

TXmlTokenKind TXmlReader::ReadEndTag() {
    source_->SkipWhitespace();
    source_->ReadRun(tokenName_, kNameStop);
    if (SkipWhitespaceAndGet() != '>') {
        throw EXmlReader(kEndTagEnd);
    }
    if (elements_.empty() || elements_.back() != tokenName_) {
        throw Exception(kEndTagMismatch);
    }
    elements_.pop_back();
    return xtEndElement;
}

TXmlTokenKind TXmlReader::ReadText() {
    source_->ReadRunTo(tokenValue_, '<');
    return xtText;
}

// Building a document from XML text, and writing nodes out as text.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "xml/dom.h"
#include "xml/reader.h"
#include "platform/files.h"

namespace {

// A read-only stream over a text that stays where it is, so loading a large text does not copy it first.
class TTextViewStream : public TStream {
public:
    explicit TTextViewStream(std::string_view text) : text_(text) {}

    int64_t Read(void* buffer, int64_t count) override {
        int64_t available = Size() - position_;
        int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(available, 0));
        std::memcpy(buffer, text_.data() + position_, static_cast<std::size_t>(n));
        position_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : Size();
        position_ = std::max<int64_t>(base + offset, 0);
        return position_;
    }
    void SetSize(int64_t) override { throw EStreamError("Stream write error"); }
    int64_t Size() override { return static_cast<int64_t>(text_.size()); }

private:
    std::string_view text_;
    int64_t position_ = 0;
};

// Text between tags that is whitespace only and spans lines is layout, not content.
bool IsRetainedText(const std::string& text, bool keepWhitespace) {
    if (keepWhitespace) {
        return true;
    }
    bool hasLineBreak = false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32) {
            return true;
        }
        hasLineBreak = hasLineBreak || c == '\r' || c == '\n';
    }
    return !hasLineBreak;
}

class TDocumentLoader {
public:
    TDocumentLoader(TXmlDDocument* document, TXmlReader& reader) : document_(document), reader_(reader) {}

    void Load() {
        reader_.Next();
        while (reader_.TokenKind() != xtEndOfDocument) {
            if (reader_.TokenKind() == xtStartElement) {
                ReadElement();
            } else if (!AppendMarkup(document_)) {
                throw Exception("XML: неправильная конструкция в XML-документе");
            }
        }
    }

private:
    // Adds an instruction, document type or comment token to Parent and moves on; false for other tokens.
    bool AppendMarkup(TXmlDNode* parent) {
        switch (reader_.TokenKind()) {
            case xtProcessingInstruction:
                Append(parent, new TXmlDProcessingInstruction(reader_.TokenName(), reader_.TokenValue()));
                return true;
            case xtDocumentType:
                Append(parent, new TXmlDDocumentType(reader_.TokenName()));
                return true;
            case xtComment:
                Append(parent, new TXmlDComment(reader_.TokenValue()));
                return true;
            default:
                return false;
        }
    }

    void Append(TXmlDNode* parent, TXmlDNode* node) {
        TRef<TXmlDNode> keepAlive(node);
        AppendChild(parent, node);
        reader_.Next();
    }

    // Reads the element at the current start token with everything inside it. Open elements are kept on an
    // explicit stack, so nesting depth costs heap, not call stack.
    void ReadElement() {
        std::vector<TXmlDNode*> open{document_};
        OpenElement(open);
        while (open.size() > 1) {
            TXmlDNode* element = open.back();
            switch (reader_.TokenKind()) {
                case xtEndOfDocument:
                    document_->EndedInsideElement = true;
                    return;  // the elements stay as read
                case xtStartElement:
                    OpenElement(open);
                    break;
                case xtEndElement:
                    open.pop_back();
                    reader_.Next();
                    break;
                case xtCData:
                    Append(element, new TXmlDCDATASection(reader_.TokenValue()));
                    break;
                case xtAttribute:
                    SetLoadedAttribute(element);
                    reader_.Next();
                    break;
                case xtText:
                    if (IsRetainedText(reader_.TokenValue(), document_->KeepWhitespaceText)) {
                        Append(element, NewText());
                    } else {
                        reader_.Next();
                    }
                    break;
                default:
                    AppendMarkup(element);
                    break;
            }
        }
    }

    void OpenElement(std::vector<TXmlDNode*>& open) {
        TRef<TXmlDNode> element(new TXmlDElement(TagName()));
        AppendChild(open.back(), element.get());
        open.push_back(element.get());
        indexedElement_ = nullptr;
        reader_.Next();
    }

    // Most text holds no entity; it goes into the node without an intermediate copy.
    TXmlDNode* NewText() {
        const std::string& text = reader_.TokenValue();
        if (text.find('&') == std::string::npos) {
            return new TXmlDText(text);
        }
        return new TXmlDText(XmlUnescape(text));
    }

    // Elements of one name share one copy of it. A small cache indexed by a hash of the name finds the
    // recurring names of a document; a name that finds its slot taken simply gets its own copy.
    const xmlstring::TSharedString& TagName() {
        std::string_view name = reader_.TokenName();
        std::size_t hash = name.size() * 31 + static_cast<unsigned char>(name.front()) * 7 +
                           static_cast<unsigned char>(name.back());
        xmlstring::TSharedString& slot = tagNames_[hash % kTagNameSlots];
        if (slot.View() != name) {
            slot = xmlstring::TSharedString(name);
        }
        return slot;
    }

    // A repeated name keeps its first position and takes the last value. Past a few attributes the names
    // are looked up in an index, so a tag with very many attributes still loads in linear time.
    void SetLoadedAttribute(TXmlDNode* element) {
        std::string value = XmlUnescape(reader_.TokenValue());
        if (!element->FirstAttribute() || element->Attributes().Count() < kIndexedFrom) {
            SetAttribute(element, reader_.TokenName(), value);
            return;
        }
        if (indexedElement_ != element) {
            attributeIndex_.clear();
            for (TXmlDNode* node = element->FirstAttribute(); node; node = node->NextSibling()) {
                attributeIndex_.try_emplace(std::string(node->NodeName()), node);
            }
            indexedElement_ = element;
        }
        auto [position, inserted] = attributeIndex_.try_emplace(reader_.TokenName(), nullptr);
        if (!inserted) {
            position->second->SetNodeValue(value);
            return;
        }
        TRef<TXmlDNode> attribute(new TXmlDAttribute(reader_.TokenName()));
        attribute->SetNodeValue(value);
        element->Attributes().Insert(-1, attribute.get());
        position->second = attribute.get();
    }

    static constexpr int kIndexedFrom = 16;

    TXmlDDocument* document_;
    TXmlReader& reader_;
    const TXmlDNode* indexedElement_ = nullptr;
    std::unordered_map<std::string, TXmlDNode*> attributeIndex_;
    static constexpr std::size_t kTagNameSlots = 256;
    std::array<xmlstring::TSharedString, kTagNameSlots> tagNames_;
};

}  // namespace

void LoadXml(TXmlDDocument* document, std::string_view text) {
    TTextViewStream stream(text);
    LoadFromStream(document, stream);
}

void LoadFromStream(TXmlDDocument* document, TStream& stream) {
    ClearChildNodes(document);
    ClearAttributes(document);
    document->EndedInsideElement = false;
    TXmlReader reader;
    reader.Open(&stream, false);
    TDocumentLoader(document, reader).Load();
}

void SaveToFile(const TXmlDNode* node, const std::string& fileName) {
    if (!platform::ReplaceFileWithBytes(fileName, node->GetXml())) {
        throw EFOpenError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    }
}

void SaveToStream(const TXmlDNode* node, TStream& stream) { stream.WriteText(node->GetXml()); }

#pragma once
// The XML document tree: reference-counted nodes that can be searched, built, loaded from text and saved.
// A parent holds one counted reference to each child; node lists keep the parent and sibling links.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/stream.h"
#include "xml/ref_object.h"
#include "xml/shared_string.h"

enum TXmlDNodeType : std::uint8_t {
    ntElement,
    ntAttribute,
    ntText,
    ntCDataSection,
    ntEntityReference,
    ntEntity,
    ntProcessingInstruction,
    ntComment,
    ntDocument,
    ntDocumentType,
    ntDocumentFragment,
    ntNotation
};

class TXmlDNode;

class TXmlDNodeList : public TRefObject {
public:
    explicit TXmlDNodeList(TXmlDNode* owner) : owner_(owner) {}
    ~TXmlDNodeList() override;
    // Lists, like nodes, come from the tree's block pool.
    static void* operator new(std::size_t size);
    static void operator delete(void* list, std::size_t size) noexcept;

    // The node whose list this is; null once that node is gone.
    TXmlDNode* Owner() const noexcept { return owner_; }
    int Count() const noexcept { return static_cast<int>(count_); }
    TXmlDNode* Item(int index) const;
    // Index -1 means at the end; returns the index used. A node that has a parent is refused.
    int Insert(int index, TXmlDNode* node);
    void Delete(int index);
    int IndexOf(const TXmlDNode* node) const noexcept;
    // The first node named Name (byte for byte), and its index in *Index; null and -1 when there is none.
    TXmlDNode* NamedItem(std::string_view name, int* index = nullptr) const;
    void Clear();

private:
    friend class TXmlDNode;
    static void CheckHasNoParent(const TXmlDNode* node);
    // A list of one node keeps it in place of the array pointer; the array comes with the second node.
    TXmlDNode** Slots() noexcept { return capacity_ > 1 ? array_ : &single_; }
    TXmlDNode* const* Slots() const noexcept { return capacity_ > 1 ? array_ : &single_; }
    void Reserve(std::uint32_t count);

    std::uint32_t count_ = 0;
    std::uint32_t capacity_ = 1;
    TXmlDNode* owner_;
    union {
        TXmlDNode* single_ = nullptr;
        TXmlDNode** array_;
    };
};

// The class of attribute lists.
class TXmlDNamedNodeMap : public TXmlDNodeList {
public:
    using TXmlDNodeList::TXmlDNodeList;
};

class TXmlDNode : public TRefObject {
public:
    ~TXmlDNode() override;
    // Nodes come from a pool of small blocks: a loaded tree holds very many of them.
    static void* operator new(std::size_t size);
    static void operator delete(void* node, std::size_t size) noexcept;

    TXmlDNodeType NodeType() const noexcept { return nodeType_; }
    std::string_view NodeName() const { return GetNodeName(); }
    // The parts of NodeName before and after its first ':'.
    std::string Prefix() const;
    std::string LocalName() const;
    const char* NodeTypeName() const noexcept;

    // Both lists come into being on first use, so leaves of a large tree carry none.
    TXmlDNodeList& ChildNodes() const;
    // The node-list insert of ChildNodes (no containment check); a first child needs no list built for it.
    int InsertChildNode(TXmlDNode* child, int index);
    TXmlDNamedNodeMap& Attributes() const;

    TXmlDNode* ParentNode() const noexcept { return parentNode_; }
    TXmlDNode* PreviousSibling() const noexcept { return previousSibling_; }
    TXmlDNode* NextSibling() const noexcept { return nextSibling_; }
    TXmlDNode* FirstChild() const noexcept;
    TXmlDNode* LastChild() const noexcept;
    bool HasChildNodes() const noexcept { return FirstChild() != nullptr; }
    TXmlDNode* FirstAttribute() const noexcept;

    virtual std::string_view GetNodeName() const = 0;
    virtual std::string GetNodeValue() const = 0;
    virtual void SetNodeValue(const std::string& value) = 0;
    virtual std::string GetText() const = 0;
    virtual void SetText(const std::string& text) = 0;
    // The node and everything below it as markup.
    std::string GetXml() const;
    // A new node of the same kind and name, without attributes or children, count 0.
    virtual TXmlDNode* CopyNode() const = 0;

    // What the node writes before its children and after them.
    virtual void WriteXmlHead(std::string& out) const = 0;
    virtual void WriteXmlTail(std::string&) const {}

protected:
    explicit TXmlDNode(TXmlDNodeType nodeType) : nodeType_(nodeType) {}
    TXmlDNode* OnlyChild() const noexcept {
        return (children_ & 1) ? reinterpret_cast<TXmlDNode*>(children_ & ~std::uintptr_t(1)) : nullptr;
    }
    TXmlDNodeList* ChildList() const noexcept {
        return (children_ & 1) ? nullptr : reinterpret_cast<TXmlDNodeList*>(children_);
    }
    [[noreturn]] void RaiseCannotSetValue() const;
    [[noreturn]] void RaiseCannotSetText() const;
    // The text of the element, text and CDATA descendants, in document order.
    std::string DescendantText() const;

private:
    friend class TXmlDNodeList;
    TXmlDNodeType nodeType_;
    TXmlDNode* parentNode_ = nullptr;
    TXmlDNode* previousSibling_ = nullptr;
    TXmlDNode* nextSibling_ = nullptr;
    // Null, the child list, or (low bit set) the only child while nobody has asked for the list: most
    // elements hold just their text and need no list of their own.
    mutable std::uintptr_t children_ = 0;
    mutable TXmlDNamedNodeMap* attributes_ = nullptr;
};

class TXmlDDocument : public TXmlDNode {
public:
    TXmlDDocument() : TXmlDNode(ntDocument) {}
    // Keep text that is whitespace only and holds a line break when loading.
    bool KeepWhitespaceText = false;
    // Set by a load whose text ended inside an element, as a text cut short does; the elements stay as read.
    bool EndedInsideElement = false;

    std::string_view GetNodeName() const override { return "#document"; }
    std::string GetNodeValue() const override { return {}; }
    void SetNodeValue(const std::string&) override { RaiseCannotSetValue(); }
    std::string GetText() const override { return DescendantText(); }
    void SetText(const std::string&) override { RaiseCannotSetText(); }
    TXmlDNode* CopyNode() const override;
    void WriteXmlHead(std::string&) const override {}
};

class TXmlDDocumentType : public TXmlDNode {
public:
    explicit TXmlDDocumentType(std::string name) : TXmlDNode(ntDocumentType), name_(std::move(name)) {}

    std::string_view GetNodeName() const override { return name_; }
    std::string GetNodeValue() const override { return {}; }
    void SetNodeValue(const std::string&) override { RaiseCannotSetValue(); }
    std::string GetText() const override { return {}; }
    void SetText(const std::string&) override { RaiseCannotSetText(); }
    TXmlDNode* CopyNode() const override { return new TXmlDDocumentType(name_); }
    void WriteXmlHead(std::string& out) const override;
    void WriteXmlTail(std::string& out) const override { out += "]>"; }

private:
    std::string name_;
};

class TXmlDElement : public TXmlDNode {
public:
    explicit TXmlDElement(std::string_view tagName) : TXmlDElement(xmlstring::TSharedString(tagName)) {}
    explicit TXmlDElement(xmlstring::TSharedString tagName) : TXmlDNode(ntElement), tagName_(std::move(tagName)) {}

    std::string_view GetNodeName() const override { return tagName_.View(); }
    std::string GetNodeValue() const override { return {}; }
    void SetNodeValue(const std::string&) override { RaiseCannotSetValue(); }
    std::string GetText() const override { return DescendantText(); }
    // The children are replaced by one text node holding Text.
    void SetText(const std::string& text) override;
    TXmlDNode* CopyNode() const override { return new TXmlDElement(tagName_); }
    void WriteXmlHead(std::string& out) const override;
    void WriteXmlTail(std::string& out) const override;

private:
    xmlstring::TSharedString tagName_;
};

class TXmlDAttribute : public TXmlDNode {
public:
    explicit TXmlDAttribute(std::string name) : TXmlDNode(ntAttribute), name_(std::move(name)) {}

    std::string_view GetNodeName() const override { return name_; }
    std::string GetNodeValue() const override { return value_; }
    void SetNodeValue(const std::string& value) override { value_ = value; }
    std::string GetText() const override { return value_; }
    void SetText(const std::string& text) override { value_ = text; }
    TXmlDNode* CopyNode() const override;
    void WriteXmlHead(std::string& out) const override;

private:
    std::string name_;
    std::string value_;
};

class TXmlDCharacterData : public TXmlDNode {
public:
    std::string_view Data() const noexcept { return data_.View(); }
    std::string GetNodeValue() const override { return std::string(Data()); }
    void SetNodeValue(const std::string& value) override { data_ = xmlstring::TSharedString(value); }
    std::string GetText() const override { return std::string(Data()); }
    void SetText(const std::string& text) override { SetNodeValue(text); }

protected:
    TXmlDCharacterData(TXmlDNodeType nodeType, xmlstring::TSharedString data)
        : TXmlDNode(nodeType), data_(std::move(data)) {}
    const xmlstring::TSharedString& SharedData() const noexcept { return data_; }

private:
    xmlstring::TSharedString data_;
};

class TXmlDComment : public TXmlDCharacterData {
public:
    explicit TXmlDComment(std::string_view data) : TXmlDComment(xmlstring::TSharedString(data)) {}

    std::string_view GetNodeName() const override { return "#comment"; }
    TXmlDNode* CopyNode() const override { return new TXmlDComment(SharedData()); }
    void WriteXmlHead(std::string& out) const override;

private:
    explicit TXmlDComment(xmlstring::TSharedString data) : TXmlDCharacterData(ntComment, std::move(data)) {}
};

class TXmlDText : public TXmlDCharacterData {
public:
    explicit TXmlDText(std::string_view data) : TXmlDText(ntText, xmlstring::TSharedString(data)) {}

    std::string_view GetNodeName() const override { return "#text"; }
    TXmlDNode* CopyNode() const override { return new TXmlDText(ntText, SharedData()); }
    void WriteXmlHead(std::string& out) const override;

protected:
    TXmlDText(TXmlDNodeType nodeType, xmlstring::TSharedString data)
        : TXmlDCharacterData(nodeType, std::move(data)) {}
};

class TXmlDCDATASection : public TXmlDText {
public:
    explicit TXmlDCDATASection(std::string_view data) : TXmlDCDATASection(xmlstring::TSharedString(data)) {}

    std::string_view GetNodeName() const override { return "#cdata-section"; }
    TXmlDNode* CopyNode() const override { return new TXmlDCDATASection(SharedData()); }
    void WriteXmlHead(std::string& out) const override;

private:
    explicit TXmlDCDATASection(xmlstring::TSharedString data) : TXmlDText(ntCDataSection, std::move(data)) {}
};

class TXmlDProcessingInstruction : public TXmlDNode {
public:
    TXmlDProcessingInstruction(std::string target, std::string data)
        : TXmlDNode(ntProcessingInstruction), target_(std::move(target)), data_(std::move(data)) {}

    std::string_view GetNodeName() const override { return target_; }
    std::string GetNodeValue() const override { return data_; }
    void SetNodeValue(const std::string& value) override { data_ = value; }
    std::string GetText() const override { return data_; }
    void SetText(const std::string& text) override { data_ = text; }
    TXmlDNode* CopyNode() const override { return new TXmlDProcessingInstruction(target_, data_); }
    void WriteXmlHead(std::string& out) const override;

private:
    std::string target_;
    std::string data_;
};

// --- Tree operations ---

// Inserts Child among Parent's children at Index (-1: at the end), first taking it from its old parent;
// returns the index used. Refuses child types Parent may not hold, a node that would contain itself and an
// index out of range; a refused call leaves Child where it was.
int InsertChild(TXmlDNode* parent, TXmlDNode* child, int index);
int AppendChild(TXmlDNode* parent, TXmlDNode* child);
// Returns the index Child had; Child is destroyed when nobody else holds it.
int RemoveChild(TXmlDNode* parent, TXmlDNode* child);
void ClearChildNodes(TXmlDNode* node);
void ClearAttributes(TXmlDNode* node);
// A copy with count 0: the node and its attributes, with Deep also every descendant.
TXmlDNode* CloneNode(const TXmlDNode* node, bool deep);
// The first child (never an attribute) whose NodeName is Name, byte for byte; null when there is none.
TXmlDNode* FindChild(const TXmlDNode* node, std::string_view name);
// The first child element; null when there is none.
TXmlDElement* DocumentElement(const TXmlDNode* node);
void SetAttribute(TXmlDNode* element, const std::string& name, const std::string& value);
TXmlDAttribute* GetAttributeNode(const TXmlDNode* element, std::string_view name);

// --- Text ---

// Replaces the document's content with the tree read from Text; a failed load keeps what was built.
void LoadXml(TXmlDDocument* document, std::string_view text);
void LoadFromStream(TXmlDDocument* document, TStream& stream);
// Replaces the file through a temporary file in its folder, so a failed save leaves the old file intact.
void SaveToFile(const TXmlDNode* node, const std::string& fileName);
void SaveToStream(const TXmlDNode* node, TStream& stream);

std::string XmlEscape(std::string_view text);
// Appends XmlEscape(Text) to Out.
void AppendEscaped(std::string& out, std::string_view text);
// Replaces the five named entities only; every other reference stays as written.
std::string XmlUnescape(std::string text);

#include "xml/dom.h"

#include <algorithm>

#include "xml/block_pool.h"

namespace {

const char* const kNodeTypeNames[] = {
    "element", "attribute", "text", "cdatasection", "entityreference", "entity",
    "processinginstruction", "comment", "document", "documenttype", "documentfragment", "notation"};

constexpr std::uint16_t Types(std::initializer_list<TXmlDNodeType> types) {
    std::uint16_t mask = 0;
    for (TXmlDNodeType type : types) {
        mask = static_cast<std::uint16_t>(mask | (1u << type));
    }
    return mask;
}

constexpr std::uint16_t kContentTypes = Types({ntElement, ntText, ntCDataSection, ntEntityReference,
                                               ntProcessingInstruction, ntComment, ntDocumentFragment});
constexpr std::uint16_t kDocumentTypes =
    Types({ntElement, ntProcessingInstruction, ntComment, ntDocumentType, ntDocumentFragment});
constexpr std::uint16_t kAnyType = 0xFFFF;

// The child types each parent type accepts, indexed by the parent's type.
constexpr std::uint16_t kAcceptedChildren[] = {
    kContentTypes,   // element
    0,               // attribute
    0,               // text
    0,               // cdatasection
    kAnyType,        // entityreference
    kAnyType,        // entity
    0,               // processinginstruction
    0,               // comment
    kDocumentTypes,  // document
    kAnyType,        // documenttype
    kContentTypes,   // documentfragment
    0,               // notation
};

std::string Quoted(const char* text) { return std::string("\"") + text + "\""; }

void CheckContainment(const TXmlDNode* parent, const TXmlDNode* child) {
    std::uint16_t accepted = kAcceptedChildren[parent->NodeType()];
    if (accepted == 0) {
        throw Exception("XML: узел " + Quoted(parent->NodeTypeName()) + " не может содержать подузлы");
    }
    if ((accepted & (1u << child->NodeType())) == 0) {
        throw Exception("XML: узел " + Quoted(parent->NodeTypeName()) + " не может содержать подузел " +
                        Quoted(child->NodeTypeName()));
    }
}

// A node placed below itself would own itself: it could never be freed and writing it would not end.
void CheckNotAncestor(const TXmlDNode* parent, const TXmlDNode* child) {
    if (child != parent && !child->HasChildNodes()) {
        return;
    }
    for (const TXmlDNode* node = parent; node; node = node->ParentNode()) {
        if (node == child) {
            throw Exception("XML: Нельзя добавлять узел внутрь него самого");
        }
    }
}

// The position of Child among Parent's children; a node that is not among them cannot be taken out.
int ChildIndex(const TXmlDNode* parent, const TXmlDNode* child) {
    int index = parent->HasChildNodes() ? parent->ChildNodes().IndexOf(child) : -1;
    if (index < 0) {
        throw Exception("XML: Не найден подузел для удаления");
    }
    return index;
}

// Index -1 appends; any other index counts positions once a node moving within Parent has left its place.
void CheckInsertIndex(const TXmlDNode* parent, int index, bool movesWithin) {
    if (index == -1) {
        return;
    }
    int count = (parent->HasChildNodes() ? parent->ChildNodes().Count() : 0) - (movesWithin ? 1 : 0);
    if (index < 0 || index > count) {
        RaiseListIndexError(index);
    }
}

// The node after Node in document order within Root's subtree, or null; Descend false skips Node's children.
const TXmlDNode* NextInSubtree(const TXmlDNode* node, const TXmlDNode* root, bool descend) {
    if (descend && node->FirstChild()) {
        return node->FirstChild();
    }
    for (; node != root; node = node->ParentNode()) {
        if (node->NextSibling()) {
            return node->NextSibling();
        }
    }
    return nullptr;
}

// CopyNode of Node with clones of its attributes; the result has count 0.
TXmlDNode* CopyWithAttributes(const TXmlDNode* node, bool deep) {
    TXmlDNode* copy = node->CopyNode();
    try {
        for (const TXmlDNode* attribute = node->FirstAttribute(); attribute; attribute = attribute->NextSibling()) {
            TRef<TXmlDNode> attributeCopy(CloneNode(attribute, deep));
            copy->Attributes().Insert(-1, attributeCopy.get());
        }
    } catch (...) {
        TRef<TXmlDNode> drop(copy);
        throw;
    }
    return copy;
}

}  // namespace

// --- TXmlDNodeList ---

void* TXmlDNodeList::operator new(std::size_t size) { return xmlpool::Allocate(size); }

void TXmlDNodeList::operator delete(void* list, std::size_t size) noexcept { xmlpool::Release(list, size); }

TXmlDNodeList::~TXmlDNodeList() {
    Clear();
    if (capacity_ > 1) {
        xmlpool::Release(array_, capacity_ * sizeof(TXmlDNode*));
    }
}

TXmlDNode* TXmlDNodeList::Item(int index) const {
    if (index < 0 || index >= Count()) {
        RaiseListIndexError(index);
    }
    return Slots()[index];
}

void TXmlDNodeList::Reserve(std::uint32_t count) {
    if (count <= capacity_) {
        return;
    }
    // Grows by half, so a list of many nodes wastes little and a short one reallocates a few times only.
    std::uint32_t capacity = std::max({count, capacity_ + capacity_ / 2, 8u});
    auto* array = static_cast<TXmlDNode**>(xmlpool::Allocate(capacity * sizeof(TXmlDNode*)));
    std::copy_n(Slots(), count_, array);
    if (capacity_ > 1) {
        xmlpool::Release(array_, capacity_ * sizeof(TXmlDNode*));
    }
    array_ = array;
    capacity_ = capacity;
}

void TXmlDNodeList::CheckHasNoParent(const TXmlDNode* node) {
    if (node->parentNode_) {
        throw Exception("XML: Нельзя добавлять узел в два списка");
    }
}

int TXmlDNodeList::Insert(int index, TXmlDNode* node) {
    CheckHasNoParent(node);
    if (index == -1) {
        index = Count();
    }
    if (index < 0 || index > Count()) {
        RaiseListIndexError(index);
    }
    Reserve(count_ + 1);
    TXmlDNode** slots = Slots();
    std::copy_backward(slots + index, slots + count_, slots + count_ + 1);
    slots[index] = node;
    ++count_;
    node->AddRef();
    node->parentNode_ = owner_;
    node->previousSibling_ = index > 0 ? Item(index - 1) : nullptr;
    node->nextSibling_ = index + 1 < Count() ? Item(index + 1) : nullptr;
    if (node->previousSibling_) {
        node->previousSibling_->nextSibling_ = node;
    }
    if (node->nextSibling_) {
        node->nextSibling_->previousSibling_ = node;
    }
    return index;
}

void TXmlDNodeList::Delete(int index) {
    TRef<TXmlDNode> node(Item(index));
    TXmlDNode** slots = Slots();
    std::copy(slots + index + 1, slots + count_, slots + index);
    --count_;
    node->Release();
    if (node->previousSibling_) {
        node->previousSibling_->nextSibling_ = node->nextSibling_;
    }
    if (node->nextSibling_) {
        node->nextSibling_->previousSibling_ = node->previousSibling_;
    }
    node->parentNode_ = nullptr;
    node->previousSibling_ = nullptr;
    node->nextSibling_ = nullptr;
}

int TXmlDNodeList::IndexOf(const TXmlDNode* node) const noexcept {
    TXmlDNode* const* slots = Slots();
    auto found = std::find(slots, slots + count_, node);
    return found == slots + count_ ? -1 : static_cast<int>(found - slots);
}

TXmlDNode* TXmlDNodeList::NamedItem(std::string_view name, int* index) const {
    for (int i = 0; i < Count(); ++i) {
        TXmlDNode* node = Item(i);
        if (node->NodeName() == name) {
            if (index) {
                *index = i;
            }
            return node;
        }
    }
    if (index) {
        *index = -1;
    }
    return nullptr;
}

void TXmlDNodeList::Clear() {
    while (Count() > 0) {
        Delete(Count() - 1);
    }
}

// --- TXmlDNode ---

void* TXmlDNode::operator new(std::size_t size) { return xmlpool::Allocate(size); }

void TXmlDNode::operator delete(void* node, std::size_t size) noexcept { xmlpool::Release(node, size); }

TXmlDNode::~TXmlDNode() {
    if (TXmlDNode* child = OnlyChild()) {
        child->parentNode_ = nullptr;
        child->Release();
    }
    // Lists somebody else still holds must not point back at this node.
    for (TXmlDNodeList* list : {static_cast<TXmlDNodeList*>(attributes_), ChildList()}) {
        if (list) {
            list->Clear();
            list->owner_ = nullptr;
            list->Release();
        }
    }
}

std::string TXmlDNode::Prefix() const {
    std::string_view name = NodeName();
    std::size_t colon = name.find(':');
    return std::string(colon == std::string_view::npos ? std::string_view() : name.substr(0, colon));
}

std::string TXmlDNode::LocalName() const {
    std::string_view name = NodeName();
    std::size_t colon = name.find(':');
    return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

const char* TXmlDNode::NodeTypeName() const noexcept { return kNodeTypeNames[nodeType_]; }

TXmlDNodeList& TXmlDNode::ChildNodes() const {
    if (TXmlDNodeList* existing = ChildList()) {
        return *existing;
    }
    auto* list = new TXmlDNodeList(const_cast<TXmlDNode*>(this));
    list->AddRef();
    if (TXmlDNode* child = OnlyChild()) {
        // The only child's reference moves into the list.
        list->single_ = child;
        list->count_ = 1;
    }
    children_ = reinterpret_cast<std::uintptr_t>(list);
    return *list;
}

int TXmlDNode::InsertChildNode(TXmlDNode* child, int index) {
    if (children_ != 0 || (index != -1 && index != 0)) {
        return ChildNodes().Insert(index, child);
    }
    TXmlDNodeList::CheckHasNoParent(child);
    child->AddRef();
    child->parentNode_ = this;
    children_ = reinterpret_cast<std::uintptr_t>(child) | 1;
    return 0;
}

TXmlDNamedNodeMap& TXmlDNode::Attributes() const {
    if (!attributes_) {
        attributes_ = new TXmlDNamedNodeMap(const_cast<TXmlDNode*>(this));
        attributes_->AddRef();
    }
    return *attributes_;
}

TXmlDNode* TXmlDNode::FirstChild() const noexcept {
    const TXmlDNodeList* list = ChildList();
    return list && list->Count() > 0 ? list->Item(0) : OnlyChild();
}

TXmlDNode* TXmlDNode::LastChild() const noexcept {
    const TXmlDNodeList* list = ChildList();
    return list && list->Count() > 0 ? list->Item(list->Count() - 1) : OnlyChild();
}

TXmlDNode* TXmlDNode::FirstAttribute() const noexcept {
    return attributes_ && attributes_->Count() > 0 ? attributes_->Item(0) : nullptr;
}

std::string TXmlDNode::GetXml() const {
    std::string out;
    for (const TXmlDNode* node = this;;) {
        node->WriteXmlHead(out);
        if (node->FirstChild()) {
            node = node->FirstChild();
            continue;
        }
        // Close every node that has no further sibling, up to the one that has.
        for (;;) {
            node->WriteXmlTail(out);
            if (node == this) {
                return out;
            }
            if (node->NextSibling()) {
                node = node->NextSibling();
                break;
            }
            node = node->ParentNode();
        }
    }
}

void TXmlDNode::RaiseCannotSetValue() const {
    throw Exception("XML: Нельзя изменять значение узла " + Quoted(NodeTypeName()));
}

void TXmlDNode::RaiseCannotSetText() const {
    throw Exception("XML: Нельзя изменять текст узла " + Quoted(NodeTypeName()));
}

std::string TXmlDNode::DescendantText() const {
    std::string text;
    const TXmlDNode* node = FirstChild();
    while (node) {
        TXmlDNodeType type = node->NodeType();
        if (type == ntText || type == ntCDataSection) {
            text += static_cast<const TXmlDCharacterData*>(node)->Data();
        }
        node = NextInSubtree(node, this, type == ntElement);
    }
    return text;
}

// --- Node classes ---

TXmlDNode* TXmlDDocument::CopyNode() const {
    auto* copy = new TXmlDDocument;
    copy->KeepWhitespaceText = KeepWhitespaceText;
    return copy;
}

void TXmlDDocumentType::WriteXmlHead(std::string& out) const { out += "<!DOCTYPE " + name_ + " ["; }

void TXmlDElement::SetText(const std::string& text) {
    TRef<TXmlDNode> node(new TXmlDText(text));
    ClearChildNodes(this);
    AppendChild(this, node.get());
}

void TXmlDElement::WriteXmlHead(std::string& out) const {
    out += '<';
    out += tagName_.View();
    for (const TXmlDNode* attribute = FirstAttribute(); attribute; attribute = attribute->NextSibling()) {
        out += ' ';
        out += attribute->GetXml();
    }
    out += HasChildNodes() ? ">" : "/>";
}

void TXmlDElement::WriteXmlTail(std::string& out) const {
    if (HasChildNodes()) {
        out += "</";
        out += tagName_.View();
        out += '>';
    }
}

TXmlDNode* TXmlDAttribute::CopyNode() const {
    auto* copy = new TXmlDAttribute(name_);
    copy->value_ = value_;
    return copy;
}

void TXmlDAttribute::WriteXmlHead(std::string& out) const {
    out += name_;
    out += "=\"";
    AppendEscaped(out, value_);
    out += '"';
}

void TXmlDComment::WriteXmlHead(std::string& out) const {
    out += "<!--";
    out += Data();
    out += "-->";
}

void TXmlDText::WriteXmlHead(std::string& out) const { AppendEscaped(out, Data()); }

void TXmlDCDATASection::WriteXmlHead(std::string& out) const {
    out += "<![CDATA[";
    out += Data();
    out += "]]>";
}

void TXmlDProcessingInstruction::WriteXmlHead(std::string& out) const {
    out += "<?" + target_ + " " + data_ + "?>";
}

// --- Tree operations ---

int InsertChild(TXmlDNode* parent, TXmlDNode* child, int index) {
    CheckContainment(parent, child);
    CheckNotAncestor(parent, child);
    TRef<TXmlDNode> keepAlive(child);
    TXmlDNode* oldParent = child->ParentNode();
    int oldIndex = oldParent ? ChildIndex(oldParent, child) : -1;
    // Checked while the node is still in its old place, so a refused move loses nothing.
    CheckInsertIndex(parent, index, oldParent == parent);
    if (oldParent) {
        oldParent->ChildNodes().Delete(oldIndex);
    }
    return parent->InsertChildNode(child, index);
}

int AppendChild(TXmlDNode* parent, TXmlDNode* child) { return InsertChild(parent, child, -1); }

int RemoveChild(TXmlDNode* parent, TXmlDNode* child) {
    int index = ChildIndex(parent, child);
    parent->ChildNodes().Delete(index);
    return index;
}

void ClearChildNodes(TXmlDNode* node) {
    if (node->HasChildNodes()) {
        node->ChildNodes().Clear();
    }
}

void ClearAttributes(TXmlDNode* node) {
    if (node->FirstAttribute()) {
        node->Attributes().Clear();
    }
}

TXmlDNode* CloneNode(const TXmlDNode* node, bool deep) {
    TXmlDNode* copy = CopyWithAttributes(node, deep);
    if (!deep || !node->HasChildNodes()) {
        return copy;
    }
    try {
        // Walks the source in document order; Target is always the copy of Source's parent.
        const TXmlDNode* source = node->FirstChild();
        TXmlDNode* target = copy;
        for (;;) {
            TXmlDNode* child = CopyWithAttributes(source, deep);
            target->InsertChildNode(child, -1);
            if (source->FirstChild()) {
                source = source->FirstChild();
                target = child;
                continue;
            }
            while (!source->NextSibling()) {
                source = source->ParentNode();
                if (source == node) {
                    return copy;
                }
                target = target->ParentNode();
            }
            source = source->NextSibling();
        }
    } catch (...) {
        TRef<TXmlDNode> drop(copy);
        throw;
    }
}

TXmlDNode* FindChild(const TXmlDNode* node, std::string_view name) {
    for (TXmlDNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        if (child->NodeName() == name) {
            return child;
        }
    }
    return nullptr;
}

TXmlDElement* DocumentElement(const TXmlDNode* node) {
    for (TXmlDNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        if (child->NodeType() == ntElement) {
            return static_cast<TXmlDElement*>(child);
        }
    }
    return nullptr;
}

void SetAttribute(TXmlDNode* element, const std::string& name, const std::string& value) {
    TXmlDNamedNodeMap& attributes = element->Attributes();
    if (TXmlDNode* existing = attributes.NamedItem(name)) {
        existing->SetNodeValue(value);
        return;
    }
    TRef<TXmlDNode> attribute(new TXmlDAttribute(name));
    attribute->SetNodeValue(value);
    attributes.Insert(-1, attribute.get());
}

TXmlDAttribute* GetAttributeNode(const TXmlDNode* element, std::string_view name) {
    if (!element->FirstAttribute()) {
        return nullptr;
    }
    TXmlDNode* node = element->Attributes().NamedItem(name);
    return node && node->NodeType() == ntAttribute ? static_cast<TXmlDAttribute*>(node) : nullptr;
}

// --- Text ---

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            default: continue;
        }
        out.append(text.data() + start, i - start);
        out += entity;
        start = i + 1;
    }
    out.append(text.data() + start, text.size() - start);
}

std::string XmlUnescape(std::string text) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}, {"&amp;", '&'}};
    std::size_t ampersand = text.find('&');
    if (ampersand == std::string::npos) {
        return text;
    }
    // Entities cannot overlap and no replacement forms a new one, so one pass equals replacing them in turn.
    std::string out(text, 0, ampersand);
    for (std::size_t i = ampersand; i != std::string::npos;) {
        std::string_view rest = std::string_view(text).substr(i);
        std::size_t consumed = 1;
        char replacement = '&';
        for (const auto& [entity, character] : kEntities) {
            if (rest.substr(0, entity.size()) == entity) {
                consumed = entity.size();
                replacement = character;
                break;
            }
        }
        out += replacement;
        std::size_t next = text.find('&', i + consumed);
        out.append(text, i + consumed, next == std::string::npos ? std::string::npos : next - i - consumed);
        i = next;
    }
    return out;
}

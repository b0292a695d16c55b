#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "xml/block_pool.h"
#include "xml/xml.h"

namespace {

// Counts its destructions and Dispose calls; can take a reference to itself while being destroyed.
class TProbe : public TRefObject {
public:
    TProbe(int& destroyed, int& disposed) : destroyed_(destroyed), disposed_(disposed) {}
    ~TProbe() override {
        AddRef();
        Release();
        ++destroyed_;
    }
    void Dispose() override {
        ++disposed_;
        if (failDispose) {
            throw Exception("dispose failed");
        }
    }
    bool failDispose = false;

private:
    int& destroyed_;
    int& disposed_;
};

TEST(RefObject, CountsAndHolders) {
    int destroyed = 0;
    int disposed = 0;
    auto* probe = new TProbe(destroyed, disposed);
    EXPECT_EQ(probe->RefCount(), 0);
    TRef<TProbe> holder;
    EXPECT_FALSE(RefAssign(holder, nullptr));
    EXPECT_TRUE(RefAssign(holder, probe));
    EXPECT_EQ(probe->RefCount(), 1);
    TRef<TProbe> second;
    EXPECT_TRUE(RefSet(second, probe));
    EXPECT_FALSE(RefSet(second, probe)) << "already held";
    EXPECT_EQ(probe->RefCount(), 2);
    RefClear(second);
    EXPECT_EQ(destroyed, 0);
    RefClear(holder);
    EXPECT_EQ(destroyed, 1) << "destroyed once, although its destructor took a reference";
    EXPECT_FALSE(holder);

    RefAssign(holder, new TProbe(destroyed, disposed));
    RefAssign(holder, new TProbe(destroyed, disposed));
    EXPECT_EQ(destroyed, 2) << "assigning over a held object releases it";
    RefDispose(holder);
    EXPECT_EQ(disposed, 1);
    EXPECT_EQ(destroyed, 3);
    RefDispose(holder);
    EXPECT_EQ(disposed, 1) << "an empty holder is left alone";

    RefAssign(holder, new TProbe(destroyed, disposed));
    holder->failDispose = true;
    EXPECT_THROW(RefDispose(holder), Exception);
    EXPECT_EQ(destroyed, 3) << "a failed Dispose leaves the object with its holder";
    EXPECT_EQ(holder->RefCount(), 1);
    holder->failDispose = false;
    RefDispose(holder);
    EXPECT_EQ(destroyed, 4);
    EXPECT_FALSE(holder);

    TRef<TXmlDNode> node;
    EXPECT_TRUE(RefAssign(node, new TXmlDElement("e"))) << "a holder of the base class takes any node";
    EXPECT_TRUE(RefSet(node, new TXmlDText("t")));
    EXPECT_EQ(node->NodeType(), ntText);
}

// A plain object that counts its destructions.
struct TItem {
    explicit TItem(int& destroyed) : destroyed_(destroyed) {}
    ~TItem() { ++destroyed_; }
    int& destroyed_;
};

TEST(RefObject, ListsNotifyAndFree) {
    int destroyed = 0;
    int disposed = 0;
    {
        TXList<TItem> plain;
        plain.Add(new TItem(destroyed));
        plain.Add(nullptr);
        TItem* kept = new TItem(destroyed);
        plain.Insert(0, kept);
        EXPECT_EQ(plain.ExtractItem(0), kept);
        delete kept;
        EXPECT_EQ(destroyed, 1);
        EXPECT_THROW(plain.Items(2), EListError);
        plain.Delete(0);
        EXPECT_EQ(destroyed, 2) << "Delete frees the item";
    }
    EXPECT_EQ(destroyed, 2);
    {
        TRef<TProbe> held(new TProbe(destroyed, disposed));
        TRefObjectList counted;
        counted.Add(held.get());
        counted.Add(new TProbe(destroyed, disposed));
        EXPECT_EQ(held->RefCount(), 2);
        counted.Clear();
        EXPECT_EQ(destroyed, 3) << "the unheld item went with the list's reference";
        EXPECT_EQ(held->RefCount(), 1);
    }
    EXPECT_EQ(destroyed, 4);
}

TEST(RefObject, NodesOutliveTheirTree) {
    TRef<TXmlDNode> child;
    TRef<TXmlDNodeList> list;
    {
        TRef<TXmlDDocument> document(new TXmlDDocument);
        LoadXml(document.get(), "<a><b>x</b><c/></a>");
        TXmlDElement* root = DocumentElement(document.get());
        child = FindChild(root, "b");
        list = &root->ChildNodes();
        EXPECT_EQ(child->RefCount(), 2);
    }
    EXPECT_EQ(child->ParentNode(), nullptr) << "no link into the destroyed tree";
    EXPECT_EQ(child->NextSibling(), nullptr);
    EXPECT_EQ(child->GetXml(), "<b>x</b>");
    EXPECT_EQ(list->Owner(), nullptr);
    EXPECT_EQ(list->Count(), 0);
}

TEST(XmlDocument, DeepNestingLoadsWritesClonesAndFrees) {
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<e a='1'>";
    }
    text += "x";
    for (int i = 0; i < depth; ++i) {
        text += "</e>";
    }
    TRef<TXmlDDocument> document(new TXmlDDocument);
    LoadXml(document.get(), text);
    EXPECT_EQ(document->GetText(), "x");
    std::string written = document->GetXml();
    EXPECT_EQ(written.substr(0, 18), "<e a=\"1\"><e a=\"1\">");
    EXPECT_EQ(written.size(), text.size());
    TRef<TXmlDNode> copy(CloneNode(document.get(), true));
    EXPECT_EQ(copy->GetXml(), written);
    RefClear(copy);
    TRef<TXmlDNode> innermost(document.get());
    while (innermost->FirstChild()) {
        innermost = innermost->FirstChild();
    }
    RefClear(document);
    EXPECT_EQ(innermost->GetNodeValue(), "x") << "a held leaf survives its ancestors";
    EXPECT_EQ(innermost->ParentNode(), nullptr);

    std::string unclosed(3 * depth, '<');
    for (int i = 0; i < depth; ++i) {
        unclosed[3 * i + 1] = 'e';
        unclosed[3 * i + 2] = '>';
    }
    RefAssign(document, new TXmlDDocument);
    LoadXml(document.get(), unclosed);
    EXPECT_EQ(document->GetXml().size(), 7 * static_cast<std::size_t>(depth) - 3) << "open elements are kept";
    EXPECT_TRUE(document->EndedInsideElement);
    LoadXml(document.get(), "<a><b/></a><run>");
    EXPECT_TRUE(document->EndedInsideElement) << "a later top-level element cut short counts too";
    LoadXml(document.get(), "<?xml version=\"1.0\"?><a><b/></a> <!-- c -->");
    EXPECT_FALSE(document->EndedInsideElement) << "a load starts afresh";
}

}  // namespace

TEST(BlockPool, BlocksStayApartAndMayGoBackFromAnyThread) {
    // Enough blocks for several chunks, of every pooled size and a few above it; each filled with its own byte.
    struct Block {
        unsigned char* bytes;
        std::size_t size;
    };
    std::vector<Block> blocks;
    std::thread cutter([&] {
        for (std::size_t i = 0; i < 6000; ++i) {
            const std::size_t size = 1 + (i * 37) % (xmlpool::kMaxPooledBlock + 64);
            auto* bytes = static_cast<unsigned char*>(xmlpool::Allocate(size));
            std::memset(bytes, static_cast<int>(i & 0xFF), size);
            blocks.push_back({bytes, size});
        }
    });
    cutter.join();
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i].bytes) % 8, 0u);
        const auto expected = static_cast<unsigned char>(i & 0xFF);
        ASSERT_TRUE(std::all_of(blocks[i].bytes, blocks[i].bytes + blocks[i].size,
                                [&](unsigned char c) { return c == expected; }))
            << "block " << i << " was overwritten by another";
    }
    // Given back here, after the thread that cut them has ended: the last one frees each chunk (the leak
    // checker of the sanitizer build sees any that stays).
    for (const Block& block : blocks) xmlpool::Release(block.bytes, block.size);
}

TEST(BlockPool, NodesOutliveTheThreadAndDocumentTheyWereLoadedIn) {
    TRef<TXmlDNode> kept;
    std::thread loader([&] {
        TRef<TXmlDDocument> document(new TXmlDDocument);
        std::string text = "<a>";
        for (int i = 0; i < 3000; ++i) text += "<b>text number " + std::to_string(i) + "</b>";
        LoadXml(document.get(), text + "</a>");
        kept = FindChild(DocumentElement(document.get()), "b")->NextSibling();
    });
    loader.join();
    EXPECT_EQ(kept->ParentNode(), nullptr);
    EXPECT_EQ(kept->GetXml(), "<b>text number 1</b>");
    // A fresh document cut from this thread's chunks does not disturb the kept node.
    TRef<TXmlDDocument> other(new TXmlDDocument);
    LoadXml(other.get(), "<c>" + std::string(300, 'x') + "</c>");
    EXPECT_EQ(other->GetXml(), "<c>" + std::string(300, 'x') + "</c>");
    EXPECT_EQ(kept->GetXml(), "<b>text number 1</b>");
}

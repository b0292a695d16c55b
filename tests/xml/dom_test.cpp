#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/temp_dir.h"
#include "xml/xml.h"

namespace {

TRef<TXmlDDocument> Load(const std::string& text) {
    TRef<TXmlDDocument> document(new TXmlDDocument);
    LoadXml(document.get(), text);
    return document;
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.Message();
    }
    return "no error";
}

TEST(XmlDocument, LoadsDeclarationAttributesAndChildren) {
    TRef<TXmlDDocument> document = Load("<?xml version='1.0'?>\r\n<a x='1'><b>t</b></a>");
    ASSERT_EQ(document->ChildNodes().Count(), 2);
    TXmlDNode* declaration = document->ChildNodes().Item(0);
    EXPECT_EQ(declaration->NodeType(), ntProcessingInstruction);
    EXPECT_EQ(declaration->NodeName(), "xml");
    EXPECT_EQ(declaration->GetNodeValue(), "version='1.0'");
    TXmlDElement* root = DocumentElement(document.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->NodeName(), "a");
    ASSERT_NE(GetAttributeNode(root, "x"), nullptr);
    EXPECT_EQ(GetAttributeNode(root, "x")->GetNodeValue(), "1");
    EXPECT_EQ(GetAttributeNode(root, "y"), nullptr);
    EXPECT_EQ(FindChild(root, "x"), nullptr) << "attributes are not children";
    ASSERT_NE(FindChild(root, "b"), nullptr);
    EXPECT_EQ(FindChild(root, "b")->GetText(), "t");
    EXPECT_EQ(FindChild(root, "B"), nullptr);
    EXPECT_EQ(FindChild(FindChild(root, "b"), "#text")->GetNodeValue(), "t");
    EXPECT_EQ(document->GetXml(), "<?xml version='1.0'?><a x=\"1\"><b>t</b></a>");

    LoadXml(document.get(), "");
    EXPECT_FALSE(document->HasChildNodes()) << "each load replaces the content";
    EXPECT_EQ(DocumentElement(document.get()), nullptr);
}

TEST(XmlDocument, WhitespaceRuleAndUnescaping) {
    EXPECT_FALSE(FindChild(DocumentElement(Load("<a>\r\n  <b/>\r\n</a>").get()), "#text"));
    EXPECT_EQ(Load("<a>\r\n  <b/>\r\n</a>")->GetXml(), "<a><b/></a>");
    EXPECT_EQ(Load("<a> </a>")->GetXml(), "<a> </a>");
    EXPECT_EQ(DocumentElement(Load("<a>\r\n x \r\n</a>").get())->GetText(), "\r\n x \r\n");
    TRef<TXmlDDocument> keeping(new TXmlDDocument);
    keeping->KeepWhitespaceText = true;
    LoadXml(keeping.get(), "<a>\n<b/></a>");
    EXPECT_EQ(keeping->GetXml(), "<a>\n<b/></a>");

    TRef<TXmlDDocument> document = Load("<a k='&quot;&amp;lt;'>&lt;&amp;lt;&#65;<![CDATA[&amp;]]><c>d</c></a>");
    TXmlDElement* root = DocumentElement(document.get());
    EXPECT_EQ(GetAttributeNode(root, "k")->GetNodeValue(), "\"&lt;");
    EXPECT_EQ(root->GetText(), "<&lt;&#65;&amp;d") << "CDATA is kept as written";
    EXPECT_EQ(document->GetText(), "<&lt;&#65;&amp;d");
    EXPECT_EQ(document->GetXml(),
              "<a k=\"&quot;&amp;lt;\">&lt;&amp;lt;&amp;#65;<![CDATA[&amp;]]><c>d</c></a>");

    EXPECT_EQ(XmlUnescape("&apos;&quot;&gt;&lt;&amp;&amp;amp;&nbsp;&"), "'\"><&&amp;&nbsp;&");
    EXPECT_EQ(XmlEscape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(Load("<a b='1' c='2' b='3'/>")->GetXml(), "<a b=\"3\" c=\"2\"/>");
}

TEST(XmlDocument, WritesEveryNodeKind) {
    EXPECT_EQ(Load("<!DOCTYPE r SYSTEM 'x'><!--c--><r><?p d?><!--in--><![CDATA[<]]>t'\"</r><s/>")->GetXml(),
              "<!DOCTYPE r []><!--c--><r><?p d?><!--in--><![CDATA[<]]>t&apos;&quot;</r><s/>");
    TRef<TXmlDElement> element(new TXmlDElement("a"));
    element->SetText("");
    EXPECT_EQ(element->GetXml(), "<a></a>");
    element->SetText("x<y");
    EXPECT_EQ(element->ChildNodes().Count(), 1);
    EXPECT_EQ(element->GetXml(), "<a>x&lt;y</a>");
    SetAttribute(element.get(), "n", "v");
    SetAttribute(element.get(), "n", "w");
    EXPECT_EQ(element->Attributes().Count(), 1);
    EXPECT_EQ(element->GetXml(), "<a n=\"w\">x&lt;y</a>");
    TRef<TXmlDElement> prefixed(new TXmlDElement("ns:tag"));
    EXPECT_EQ(prefixed->Prefix(), "ns");
    EXPECT_EQ(prefixed->LocalName(), "tag");
    EXPECT_EQ(element->Prefix(), "");
    EXPECT_EQ(element->LocalName(), "a");
}

TEST(XmlDocument, LoadFailures) {
    TRef<TXmlDDocument> document(new TXmlDDocument);
    EXPECT_EQ(MessageOf([&] { LoadXml(document.get(), "<![CDATA[x]]>"); }),
              "XML: неправильная конструкция в XML-документе");
    EXPECT_EQ(MessageOf([&] { LoadXml(document.get(), "<a><!DOCTYPE x></a>"); }),
              "XML: узел \"element\" не может содержать подузел \"documenttype\"");
    EXPECT_EQ(document->GetXml(), "<a/>") << "a failed load keeps what was built";
    EXPECT_EQ(MessageOf([&] { LoadXml(document.get(), "<a><b>t</b></c>"); }),
              "Ошибка в XML-документе: несоответствие имени закрывающего тэга имени открывающему");
    EXPECT_EQ(document->GetXml(), "<a><b>t</b></a>");
    LoadXml(document.get(), "<a><b>");
    EXPECT_EQ(document->GetXml(), "<a><b/></a>") << "open elements at the end are kept";
    TMemoryStream stream("<x/><y/>");
    LoadFromStream(document.get(), stream);
    EXPECT_EQ(document->GetXml(), "<x/><y/>") << "every top-level element is kept";
}

TEST(XmlDocument, ContainmentAndValueErrors) {
    TRef<TXmlDDocument> document = Load("<a>t</a>");
    TXmlDElement* root = DocumentElement(document.get());
    TRef<TXmlDNode> attribute(new TXmlDAttribute("x"));
    EXPECT_EQ(MessageOf([&] { AppendChild(root, attribute.get()); }),
              "XML: узел \"element\" не может содержать подузел \"attribute\"");
    EXPECT_EQ(MessageOf([&] { AppendChild(root->FirstChild(), attribute.get()); }),
              "XML: узел \"text\" не может содержать подузлы");
    TRef<TXmlDNode> text(new TXmlDText("x"));
    EXPECT_EQ(MessageOf([&] { AppendChild(document.get(), text.get()); }),
              "XML: узел \"document\" не может содержать подузел \"text\"");
    EXPECT_EQ(MessageOf([&] { RemoveChild(document.get(), text.get()); }), "XML: Не найден подузел для удаления");
    EXPECT_EQ(MessageOf([&] { root->SetNodeValue("v"); }), "XML: Нельзя изменять значение узла \"element\"");
    EXPECT_EQ(MessageOf([&] { document->SetText("v"); }), "XML: Нельзя изменять текст узла \"document\"");
    TRef<TXmlDNode> doctype(new TXmlDDocumentType("d"));
    EXPECT_EQ(MessageOf([&] { doctype->SetNodeValue("v"); }), "XML: Нельзя изменять значение узла \"documenttype\"");
    EXPECT_EQ(MessageOf([&] { root->Attributes().Insert(-1, root->FirstChild()); }),
              "XML: Нельзя добавлять узел в два списка");
    EXPECT_EQ(MessageOf([&] { root->ChildNodes().Item(1); }), "List index out of bounds (1)");
    EXPECT_EQ(MessageOf([&] { InsertChild(root, text.get(), 5); }), "List index out of bounds (5)");
    EXPECT_EQ(text->ParentNode(), nullptr) << "a refused insert leaves the node where it was";
    EXPECT_EQ(MessageOf([&] { AppendChild(root, root); }), "XML: Нельзя добавлять узел внутрь него самого");
    TRef<TXmlDNode> inner(new TXmlDElement("i"));
    AppendChild(root, inner.get());
    EXPECT_EQ(MessageOf([&] { AppendChild(inner.get(), root); }), "XML: Нельзя добавлять узел внутрь него самого");
    EXPECT_EQ(document->GetXml(), "<a>t<i/></a>");
    EXPECT_STREQ(TRef<TXmlDNode>(new TXmlDCDATASection("c"))->NodeTypeName(), "cdatasection");
    EXPECT_EQ(TRef<TXmlDNode>(new TXmlDCDATASection("c"))->NodeName(), "#cdata-section");
}

TEST(XmlDocument, CloneShallowAndDeep) {
    TRef<TXmlDDocument> document = Load("<crc k='v'>5<x><y>6</y></x></crc>");
    TXmlDElement* crc = DocumentElement(document.get());
    TRef<TXmlDNode> shallow(CloneNode(crc, false));
    EXPECT_EQ(shallow->RefCount(), 1) << "the clone came with count 0";
    EXPECT_EQ(shallow->GetXml(), "<crc k=\"v\"/>");
    EXPECT_EQ(shallow->GetText(), "");
    TRef<TXmlDNode> deep(CloneNode(crc, true));
    EXPECT_EQ(deep->GetXml(), "<crc k=\"v\">5<x><y>6</y></x></crc>");
    EXPECT_EQ(deep->ParentNode(), nullptr);
    deep->FirstChild()->SetNodeValue("changed");
    EXPECT_EQ(crc->GetText(), "56") << "the copy shares nothing with the original";
    TRef<TXmlDNode> documentCopy(CloneNode(document.get(), true));
    EXPECT_EQ(documentCopy->GetXml(), document->GetXml());
    EXPECT_EQ(documentCopy->NodeType(), ntDocument);
}

TEST(XmlDocument, MovingNodesRelinksSiblings) {
    TRef<TXmlDDocument> document = Load("<r><p><a/><b/><c/></p><q><d/></q></r>");
    TXmlDNode* p = FindChild(DocumentElement(document.get()), "p");
    TXmlDNode* q = FindChild(DocumentElement(document.get()), "q");
    TXmlDNode* a = FindChild(p, "a");
    TXmlDNode* b = FindChild(p, "b");
    TXmlDNode* c = FindChild(p, "c");
    EXPECT_EQ(AppendChild(q, b), 1);
    EXPECT_EQ(document->GetXml(), "<r><p><a/><c/></p><q><d/><b/></q></r>");
    EXPECT_EQ(a->NextSibling(), c);
    EXPECT_EQ(c->PreviousSibling(), a);
    EXPECT_EQ(b->ParentNode(), q);
    EXPECT_EQ(b->PreviousSibling(), FindChild(q, "d"));
    EXPECT_EQ(b->NextSibling(), nullptr);
    EXPECT_EQ(b->RefCount(), 1);

    EXPECT_EQ(AppendChild(p, a), 1) << "the first child moves to the end";
    EXPECT_EQ(p->ChildNodes().Count(), 2);
    EXPECT_EQ(p->FirstChild(), c);
    EXPECT_EQ(p->LastChild(), a);
    EXPECT_EQ(c->PreviousSibling(), nullptr);
    EXPECT_EQ(a->PreviousSibling(), c);

    EXPECT_EQ(InsertChild(p, b, 1), 1);
    EXPECT_EQ(document->GetXml(), "<r><p><c/><b/><a/></p><q><d/></q></r>");
    EXPECT_EQ(c->NextSibling(), b);
    EXPECT_EQ(a->PreviousSibling(), b);
    EXPECT_EQ(InsertChild(p, a, 2), 2) << "the last place once the node has left its own";
    EXPECT_EQ(MessageOf([&] { InsertChild(p, a, 3); }), "List index out of bounds (3)");
    EXPECT_EQ(MessageOf([&] { InsertChild(q, a, 2); }), "List index out of bounds (2)");
    EXPECT_EQ(document->GetXml(), "<r><p><c/><b/><a/></p><q><d/></q></r>") << "a refused move loses nothing";

    TRef<TXmlDNode> held(b);
    EXPECT_EQ(RemoveChild(p, b), 1);
    EXPECT_EQ(b->ParentNode(), nullptr);
    EXPECT_EQ(b->NextSibling(), nullptr);
    EXPECT_EQ(c->NextSibling(), a);
    EXPECT_EQ(b->RefCount(), 1) << "only the holder is left";
    ClearChildNodes(p);
    EXPECT_FALSE(p->HasChildNodes());
    EXPECT_EQ(document->GetXml(), "<r><p/><q><d/></q></r>");
}

TEST(XmlDocument, OnlyChildAndListAgree) {
    TRef<TXmlDDocument> document = Load("<a><b>t</b></a>");
    TXmlDNode* a = DocumentElement(document.get());
    TXmlDNode* b = FindChild(a, "b");
    TXmlDNode* text = b->FirstChild();
    EXPECT_EQ(b->LastChild(), text);
    TRef<TXmlDNode> c(new TXmlDElement("c"));
    EXPECT_EQ(InsertChild(b, c.get(), 0), 0);
    EXPECT_EQ(b->GetXml(), "<b><c/>t</b>");
    EXPECT_EQ(c->NextSibling(), text);
    EXPECT_EQ(text->PreviousSibling(), c.get());
    EXPECT_EQ(b->ChildNodes().Item(1), text);
    EXPECT_EQ(a->ChildNodes().Count(), 1);
    EXPECT_EQ(a->ChildNodes().Item(0), b);
    EXPECT_EQ(RemoveChild(a, b), 0);
    EXPECT_EQ(document->GetXml(), "<a/>");

    // Names that meet in the loader's name cache keep their own text.
    EXPECT_EQ(Load("<r><abc/><axc/><abc>x</abc><axc/></r>")->GetXml(), "<r><abc/><axc/><abc>x</abc><axc/></r>");
    // Short texts live in the node, longer ones in a block that copies share.
    TRef<TXmlDNode> original(new TXmlDText("a longer text value"));
    TRef<TXmlDNode> copy(CloneNode(original.get(), false));
    copy->SetNodeValue("1234567");
    EXPECT_EQ(original->GetNodeValue(), "a longer text value");
    EXPECT_EQ(copy->GetNodeValue(), "1234567");
    copy->SetNodeValue("");
    EXPECT_EQ(copy->GetXml(), "");
}

TEST(XmlDocument, SavesToStreamAndReplacesFiles) {
    TRef<TXmlDDocument> document = Load("<a>x</a>");
    TMemoryStream stream("pre:");
    stream.SetPosition(4);
    SaveToStream(document.get(), stream);
    EXPECT_EQ(stream.Data(), "pre:<a>x</a>");

    testsupport::TempDir folder;
    std::string path = folder / "latest.xml";
    testsupport::WriteFile(path, "old content that is longer");
#ifndef _WIN32  // Windows keeps no POSIX permissions to carry over
    chmod(path.c_str(), 0640);
#endif
    SaveToFile(document.get(), path);
    EXPECT_EQ(testsupport::ReadFile(path), "<a>x</a>");
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";
#endif
    TRef<TXmlDDocument> reloaded(new TXmlDDocument);
    TFileStream file(path, TFileStream::Mode::OpenRead);
    LoadFromStream(reloaded.get(), file);
    EXPECT_EQ(reloaded->GetXml(), "<a>x</a>");
    SaveToFile(FindChild(DocumentElement(document.get()), "#text"), folder / "text.xml");
    EXPECT_EQ(testsupport::ReadFile(folder / "text.xml"), "x");

    std::string missing = folder / "no/such/folder.xml";
    EXPECT_EQ(MessageOf([&] { SaveToFile(document.get(), missing); }),
              "Cannot create file \"" + missing + "\". No such file or directory");
    EXPECT_THROW(SaveToFile(document.get(), missing), EFOpenError);
}

}  // namespace

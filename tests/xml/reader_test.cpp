#include <gtest/gtest.h>

#include <algorithm>
#include <typeinfo>

#include "xml/xml.h"

namespace {

const char* KindName(TXmlTokenKind kind) {
    static const char* const names[] = {"pi", "doctype", "comment", "cdata", "start",
                                        "end", "attr", "text", "eod"};
    return names[kind];
}

// Every token of Text as "kind name=value" (name and value only when set), up to the end of the document.
std::vector<std::string> Tokens(const std::string& text, int* depth = nullptr) {
    TMemoryStream stream(text);
    TXmlReader reader;
    reader.Open(&stream, false);
    std::vector<std::string> tokens;
    for (;;) {
        TXmlTokenKind kind = reader.Next();
        if (kind == xtEndOfDocument) {
            break;
        }
        std::string token = KindName(kind);
        if (!reader.TokenName().empty() || !reader.TokenValue().empty()) {
            token += " " + reader.TokenName() + "=" + reader.TokenValue();
        }
        tokens.push_back(token);
    }
    if (depth) {
        *depth = reader.Depth();
    }
    EXPECT_EQ(reader.Next(), xtEndOfDocument) << "the end is reported again";
    return tokens;
}

using Strings = std::vector<std::string>;

// Reads Text to the end and returns the failure as "<class>: <message>", class "EXmlReader" or "Exception".
std::string Failure(const std::string& text) {
    try {
        Tokens(text);
    } catch (const Exception& error) {
        std::string kind = typeid(error) == typeid(EXmlReader) ? "EXmlReader" : 
                           typeid(error) == typeid(Exception) ? "Exception" : "other";
        return kind + ": " + error.Message();
    }
    return "no error";
}

const std::string kPrefix = "Ошибка в XML-документе: ";

TEST(XmlReaderStream, PushBackMatchAndSkip) {
    TMemoryStream stream("abcdef  \t\r\n\x01xyz");
    TXmlReaderStream source(&stream, false);
    EXPECT_EQ(source.ReadChar(false), 'a');
    EXPECT_EQ(source.ReadChar(true), 'a');
    EXPECT_FALSE(source.MatchLiteral("bcx", true)) << "a partial match is put back";
    EXPECT_TRUE(source.MatchLiteral("bcd", false));
    EXPECT_TRUE(source.MatchLiteral("bcd", true));
    source.PushBack("12");
    EXPECT_EQ(source.ReadChar(true), '1');
    EXPECT_EQ(source.ReadChar(true), '2');
    EXPECT_EQ(source.ReadChar(true), 'e');
    source.PushBack('e');
    EXPECT_TRUE(source.MatchLiteral("ef", true));
    source.SkipWhitespace();
    EXPECT_TRUE(source.MatchLiteral("xyz", true)) << "every byte up to 32 is whitespace";
    EXPECT_FALSE(source.MatchLiteral("q", true));
    EXPECT_TRUE(source.AtEnd());
    EXPECT_EQ(source.ReadChar(true), '\0');
}

TEST(XmlReaderStream, ReadsLongInputAcrossBlocksWithoutSeeking) {
    std::string text(10000, 'x');
    text += '<';
    TMemoryStream stream(text);
    TXmlReaderStream source(&stream, false);
    std::string run;
    EXPECT_EQ(source.ReadRunTo(run, '<'), '<');
    EXPECT_EQ(run, std::string(10000, 'x'));
    EXPECT_EQ(source.ReadChar(true), '<');
    EXPECT_TRUE(source.AtEnd());
}

TEST(XmlReader, TokenSequences) {
    EXPECT_EQ(Tokens(""), Strings{});
    EXPECT_EQ(Tokens(" \r\n\t"), Strings{});
    EXPECT_EQ(Tokens("<?xml version='1.0'?><a/>"),
              (Strings{"pi xml=version='1.0'", "start a=", "end a=", }));
    EXPECT_EQ(Tokens("<a>x</a>"), (Strings{"start a=", "text =x", "end a="}));
    EXPECT_EQ(Tokens("<a>\r\n  <b/>\r\n</a>"),
              (Strings{"start a=", "text =\r\n  ", "start b=", "end b=", "text =\r\n", "end a="}));
    EXPECT_EQ(Tokens("<a x = 'p>q' y=z/>"), (Strings{"start a=", "attr x=p>q", "attr y=z", "end a="}));
    EXPECT_EQ(Tokens("<a b='1'c=\"2'\" >t</a >"),
              (Strings{"start a=", "attr b=1", "attr c=2'", "text =t", "end a="}));
    EXPECT_EQ(Tokens("<a b=>"), (Strings{"start a=", "attr b="}));
    EXPECT_EQ(Tokens("< a></a>"), (Strings{"start a=", "end a="}));
    EXPECT_EQ(Tokens("<a>a &amp; b > c</a>"), (Strings{"start a=", "text =a &amp; b > c", "end a="}));
    EXPECT_EQ(Tokens("<a><![CDATA[x]] ></a>"), (Strings{"start a=", "cdata =x", "end a="}));
    EXPECT_EQ(Tokens("<a><![CDATA[<]x]>]]></a>"), (Strings{"start a=", "cdata =<]x]>", "end a="}));
    EXPECT_EQ(Tokens("<!-- a--->"), (Strings{"comment = a-"}));
    EXPECT_EQ(Tokens("<!---->"), (Strings{"comment"}));
    EXPECT_EQ(Tokens("<!DOCTYPE r [<!ENTITY e 'v'>]>"), (Strings{"doctype r=[<!ENTITY e 'v'>]"}));
    EXPECT_EQ(Tokens("<!DOCTYPE r>"), (Strings{"doctype r="}));
    EXPECT_EQ(Tokens("<? pi a?b>c ?>"), (Strings{"pi pi=a?b>c "}));
    EXPECT_EQ(Tokens("<?x?>"), (Strings{"pi x="}));
    EXPECT_EQ(Tokens("<a/>\r\n<b/>"), (Strings{"start a=", "end a=", "start b=", "end b="}));
    // NUL is whitespace like any byte up to 32, not the end of the input.
    EXPECT_EQ(Tokens(std::string("\0<a\0b\0=\0'1'\0/>\0", 15)), (Strings{"start a=", "attr b=1", "end a="}));
}

TEST(XmlReader, OpenElementsAtTheEndAreNotAnError) {
    int depth = 0;
    EXPECT_EQ(Tokens("<a><b>", &depth), (Strings{"start a=", "start b="}));
    EXPECT_EQ(depth, 2);
    EXPECT_EQ(Tokens("<a>tail", &depth), (Strings{"start a=", "text =tail"}));
    EXPECT_EQ(depth, 1);
}

TEST(XmlReader, LongTokensCrossBlockBoundaries) {
    std::string text(20000, 't');
    std::string value(9000, 'v');
    std::string name(5000, 'n');
    EXPECT_EQ(Tokens("<" + name + " k='" + value + "'>" + text + "</" + name + ">"),
              (Strings{"start " + name + "=", "attr k=" + value, "text =" + text, "end " + name + "="}));
}

// A pipe-like stream: it can only be read forward, and reading in small pieces.
class TForwardOnlyStream : public TStream {
public:
    explicit TForwardOnlyStream(std::string text) : text_(std::move(text)) {}
    int64_t Read(void* buffer, int64_t count) override {
        std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(count), 7, text_.size() - position_});
        text_.copy(static_cast<char*>(buffer), n, position_);
        position_ += n;
        return static_cast<int64_t>(n);
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override {
        ADD_FAILURE() << "the reader sought the stream";
        return 0;
    }
    void SetSize(int64_t) override { ADD_FAILURE() << "the reader resized the stream"; }

private:
    std::string text_;
    std::size_t position_ = 0;
};

TEST(XmlReader, ReadsForwardOnlyStreamsInShortBlocks) {
    TForwardOnlyStream stream("<?xml version='1.0'?><a b='1'>text<!--c--><![CDATA[d]]></a>");
    TXmlReader reader;
    reader.Open(&stream, false);
    std::vector<TXmlTokenKind> kinds;
    while (reader.Next() != xtEndOfDocument) {
        kinds.push_back(reader.TokenKind());
    }
    EXPECT_EQ(kinds, (std::vector<TXmlTokenKind>{xtProcessingInstruction, xtStartElement, xtAttribute, xtText,
                                                 xtComment, xtCData, xtEndElement}));
}

TEST(XmlReader, OpenAndClose) {
    TXmlReader reader;
    EXPECT_EQ(reader.Next(), xtEndOfDocument) << "no stream open";
    auto* owned = new TMemoryStream("<a><b>");
    reader.Open(owned, true);
    EXPECT_EQ(reader.Next(), xtStartElement);
    EXPECT_EQ(reader.Next(), xtStartElement);
    EXPECT_EQ(reader.Depth(), 2);
    TMemoryStream second("<c/>");
    reader.Open(&second, false);  // frees the owned stream (checked under the address sanitizer)
    EXPECT_EQ(reader.Depth(), 0);
    EXPECT_EQ(reader.Next(), xtStartElement);
    EXPECT_EQ(reader.TokenName(), "c");
    reader.Close();
    EXPECT_EQ(reader.TokenKind(), xtEndOfDocument);
    EXPECT_EQ(reader.Next(), xtEndOfDocument);
}

TEST(XmlReader, ErrorsWithClassAndMessage) {
    const std::string general = "Exception: " + kPrefix;
    const std::string reader = "EXmlReader: " + kPrefix;
    EXPECT_EQ(Failure("<"), general + "неожидаемое завершение текста");
    EXPECT_EQ(Failure("<a>  <"), general + "неожидаемое завершение текста");
    EXPECT_EQ(Failure("<!x>"), general + "неизвестная специальная инструкция");
    EXPECT_EQ(Failure("<!doctype a>"), general + "неизвестная специальная инструкция");
    EXPECT_EQ(Failure("\xEF\xBB\xBF<a/>"), general + "текст вне элемента");
    EXPECT_EQ(Failure("<a/>trailing"), general + "текст вне элемента");
    EXPECT_EQ(Failure("<? ?>"), reader + "не задано имя в обрабатывающей инструкции");
    EXPECT_EQ(Failure("<?xml a > b"), reader + "ожидается \"?>\"");
    EXPECT_EQ(Failure("<!DOCTYPE >"), reader + "не задано имя в типе документа");
    EXPECT_EQ(Failure("<!DOCTYPE r [<x>]"), reader + "ожидается \">\" для типа документа");
    EXPECT_EQ(Failure("<!-- a -- b ->"), reader + "ожидается \"-->\"");
    EXPECT_EQ(Failure("<a><![CDATA[x]]]></a>"), general + "ожидается \"]]>\"");
    EXPECT_EQ(Failure("<a><![CDATA[x]]"), general + "ожидается \"]]>\"");
    EXPECT_EQ(Failure("<a><![CDATA[x] ]>"), reader + "ожидается \"]]\"");
    EXPECT_EQ(Failure("<abc"), reader + "ожидается \">\" для открывающего тэга элемента");
    EXPECT_EQ(Failure("<abc  "), reader + "ожидается \">\" для открывающего тэга элемента");
    EXPECT_EQ(Failure("<>"), reader + "не задано имя открывающего тэга элемента");
    EXPECT_EQ(Failure("<a></A>"), general + "несоответствие имени закрывающего тэга имени открывающему");
    EXPECT_EQ(Failure("<a><b></a>"), general + "несоответствие имени закрывающего тэга имени открывающему");
    EXPECT_EQ(Failure("</a>"), general + "несоответствие имени закрывающего тэга имени открывающему");
    EXPECT_EQ(Failure("<a></a x>"), reader + "ожидается \">\" для закрывающего тэга элемента");
    EXPECT_EQ(Failure("<a></a"), reader + "ожидается \">\" для закрывающего тэга элемента");
    EXPECT_EQ(Failure("<a/ >"), reader + "ожидается \"/>\"");
    EXPECT_EQ(Failure("<a href=x/y>"), reader + "ожидается \"/>\"");
    EXPECT_EQ(Failure("<a b>"), reader + "ожидается \"=\" для атрибута элемента");
    EXPECT_EQ(Failure("<a b c='1'>"), reader + "ожидается \"=\" для атрибута элемента");
    EXPECT_EQ(Failure("<a ='1'>"), reader + "не задано имя атрибута элемента");
    EXPECT_EQ(Failure("<a b"), reader + "не задано имя атрибута элемента");
    EXPECT_EQ(Failure("<a b "), reader + "не задано значение атрибута элемента");
    EXPECT_EQ(Failure("<a b= "), reader + "не задано значение атрибута элемента");
    EXPECT_EQ(Failure("<a b='1"), reader + "ожидается атрибут элемента");
    EXPECT_EQ(Failure("<a b='1'"), reader + "ожидается атрибут элемента");
    EXPECT_EQ(Failure("<a b=1 "), reader + "ожидается атрибут элемента");
}

}  // namespace

// The event-driven XML parser on real documents, including hostile ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/serialization/XMLParser.h"
#include "platform/testing/Sandbox.h"

namespace {

using ns::XMLParser;

// Records every event as one line.
struct Recorder : ns::Object, ns::XMLParserDelegate {
  std::vector<std::string> events;
  std::optional<ns::Error> error;
  std::string abortAt;

  void parserDidStartDocument(XMLParser&) override { events.push_back("start"); }
  void parserDidEndDocument(XMLParser&) override { events.push_back("end"); }
  void parser_didStartElement_namespaceURI_qualifiedName_attributes(XMLParser& p, const std::string& name,
                                                                    const std::optional<std::string>& uri,
                                                                    const std::optional<std::string>& qname,
                                                                    const ns::XMLAttributes& attrs) override {
    std::string e = "<" + name;
    if (uri) e += " {" + *uri + "}";
    if (qname) e += " q=" + *qname;
    for (const auto& [k, v] : attrs) e += " " + k + "=" + v;
    events.push_back(e + ">");
    if (name == abortAt) p.abortParsing();
  }
  void parser_didEndElement_namespaceURI_qualifiedName(XMLParser&, const std::string& name,
                                                       const std::optional<std::string>&,
                                                       const std::optional<std::string>&) override {
    events.push_back("</" + name + ">");
  }
  void parser_didStartMappingPrefix_toURI(XMLParser&, const std::string& prefix,
                                          const std::string& uri) override {
    events.push_back("map " + prefix + "=" + uri);
  }
  void parser_didEndMappingPrefix(XMLParser&, const std::string& prefix) override {
    events.push_back("unmap " + prefix);
  }
  void parser_foundCharacters(XMLParser&, const std::string& s) override { events.push_back("text:" + s); }
  void parser_foundCDATA(XMLParser&, const ns::Data& d) override {
    events.push_back("cdata:" + d.toString());
  }
  void parser_foundComment(XMLParser&, const std::string& s) override { events.push_back("comment:" + s); }
  void parser_foundProcessingInstructionWithTarget_data(XMLParser&, const std::string& target,
                                                        const std::optional<std::string>& data) override {
    events.push_back("pi:" + target + " " + data.value_or(""));
  }
  void parser_parseErrorOccurred(XMLParser&, const ns::Error& e) override { error = e; }
};

std::pair<bool, ns::Ref<Recorder>> parse(const std::string& xml, bool namespaces = false,
                                         bool prefixes = false, ns::Ref<XMLParser>* out = nullptr) {
  auto parser = XMLParser::initWithData(ns::Data(xml));
  auto rec = ns::make<Recorder>();
  parser->setDelegate(rec);
  parser->setShouldProcessNamespaces(namespaces);
  parser->setShouldReportNamespacePrefixes(prefixes);
  bool ok = parser->parse();
  if (out) *out = parser;
  return {ok, rec};
}

using Events = std::vector<std::string>;

TEST(XMLParserTest, ReportsElementsAttributesAndTextInOrder) {
  auto [ok, rec] = parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<feed a=\"1\" b='two &amp; more'><!-- c --><entry>Fish &amp; chips &#233;<![CDATA[<raw>]]>tail</entry>"
      "<?app do?><empty/></feed>");
  ASSERT_TRUE(ok) << (rec->error ? rec->error->description() : "");
  EXPECT_EQ(rec->events, (Events{"start", "<feed a=1 b=two & more>", "comment: c ", "<entry>",
                                 "text:Fish & chips é", "cdata:<raw>", "text:tail", "</entry>", "pi:app do",
                                 "<empty>", "</empty>", "</feed>", "end"}));
}

TEST(XMLParserTest, DeclaredEncodingsArriveAsUtf8) {
  auto [ok, rec] = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t a=\"\xe9\">caf\xe9</t>");
  ASSERT_TRUE(ok);
  EXPECT_EQ(rec->events[1], "<t a=é>");
  EXPECT_EQ(rec->events[2], "text:café");
  std::string utf16 = "\xff\xfe";
  for (char c : std::string("<t>x</t>")) {
    utf16 += c;
    utf16 += '\0';
  }
  auto wide = parse(utf16);
  ASSERT_TRUE(wide.first);
  EXPECT_EQ(wide.second->events[2], "text:x");
}

TEST(XMLParserTest, NamespacesAsElementNamesOrProcessed) {
  const char* atom =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:media=\"http://search.yahoo.com/mrss/\">"
      "<media:group media:x=\"1\"/></feed>";
  auto plain = parse(atom);
  ASSERT_TRUE(plain.first);
  EXPECT_EQ(plain.second->events[1],
            "<feed xmlns=http://www.w3.org/2005/Atom xmlns:media=http://search.yahoo.com/mrss/>");
  EXPECT_EQ(plain.second->events[2], "<media:group media:x=1>");

  auto processed = parse(atom, true, true);
  ASSERT_TRUE(processed.first);
  EXPECT_EQ(processed.second->events,
            (Events{"start", "map =http://www.w3.org/2005/Atom", "map media=http://search.yahoo.com/mrss/",
                    "<feed {http://www.w3.org/2005/Atom} q=feed>",
                    "<group {http://search.yahoo.com/mrss/} q=media:group media:x=1>", "</group>", "</feed>",
                    "unmap ", "unmap media", "end"}));
}

TEST(XMLParserTest, ErrorsCarryLineAndColumn) {
  ns::Ref<XMLParser> parser;
  auto [ok, rec] = parse("<a>\n  <b>\n  </c>\n</a>", false, false, &parser);
  EXPECT_FALSE(ok);
  ASSERT_TRUE(parser->parserError());
  EXPECT_EQ(parser->parserError()->domain(), ns::NSXMLParserErrorDomain);
  EXPECT_EQ(parser->lineNumber(), 3);
  EXPECT_GT(parser->columnNumber(), 0);
  ASSERT_TRUE(rec->error);
  EXPECT_EQ(rec->error->code(), parser->parserError()->code());
  EXPECT_EQ(rec->events.back(), "<b>") << "nothing is reported after the error";

  for (const char* bad : {"", "<a>", "<a></b>", "not xml", "<a x=1/>", "<a>&undefined;</a>", "\xff\xfe<"}) {
    auto result = parse(bad);
    EXPECT_FALSE(result.first) << bad;
    EXPECT_TRUE(result.second->error) << bad;
  }
  EXPECT_EQ(parse("").second->error->code(), ns::NSXMLParserEmptyDocumentError);
}

TEST(XMLParserTest, ExternalEntitiesAreRefusedAndNoFileIsRead) {
  pltest::Sandbox sandbox;
  std::string folder = sandbox.temporaryFolder("xxe").string();
  std::string secretPath = folder + "/secret.txt";
  std::ofstream(secretPath) << "TOPSECRET";
  std::ofstream(folder + "/evil.dtd") << "<!ENTITY stolen SYSTEM \"file://" + secretPath + "\">";

  std::vector<std::string> attacks = {
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secretPath + "\">]><r>&x;</r>",
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + secretPath + "\">]><r a=\"&x;\">&x;</r>",
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + folder +
          "/evil.dtd\"> %p;]><r>&stolen;</r>",
      "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"file://" + folder + "/evil.dtd\"><r>&stolen;</r>",
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:1/x\">]><r>&x;</r>",
  };
  for (const auto& xml : attacks) {
    auto [ok, rec] = parse(xml);
    EXPECT_FALSE(ok) << xml;
    for (const auto& e : rec->events) EXPECT_EQ(e.find("TOPSECRET"), std::string::npos) << xml;
  }
}

TEST(XMLParserTest, RecursiveEntitiesAreRefusedAndSimpleOnesExpanded) {
  auto laughs = parse(
      "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"lol\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><l>&c;</l>");
  EXPECT_FALSE(laughs.first);
  EXPECT_EQ(laughs.second->error->code(), ns::NSXMLParserEntityRefLoopError);

  auto simple = parse(
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY me \"Pelorin &#233; co\">]><r t=\"&me;\">&me;!</r>");
  ASSERT_TRUE(simple.first) << simple.second->error->description();
  EXPECT_EQ(simple.second->events[1], "<r t=Pelorin é co>");
  EXPECT_EQ(simple.second->events[2], "text:Pelorin é co!");
}

TEST(XMLParserTest, AnEntityRepeatedUntilTheTextDwarfsTheDocumentIsRefused) {
  // No entity names another, yet 2000 references to 32 KB of text would deliver 64 MB, in text
  // or in attribute values.
  const std::string prolog =
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY big \"" + std::string(32 * 1024, 'A') + "\">]>";
  auto repeated = [](const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::string hostile[] = {
      "<r>" + repeated("&big;", 2000) + "</r>",
      "<r>" + repeated("<e a=\"&big;\"/>", 2000) + "</r>",
      "<r>" + repeated("<e a=\"&big;\" b=\"&big;&big;\"/>", 700) + "</r>",
  };
  for (const auto& body : hostile) {
    auto [ok, rec] = parse(prolog + body);
    EXPECT_FALSE(ok) << body.substr(0, 40);
    ASSERT_TRUE(rec->error) << body.substr(0, 40);
    EXPECT_EQ(rec->error->code(), ns::NSXMLParserEntityRefLoopError) << body.substr(0, 40);
  }
  // A few references stay well within what the document may deliver.
  auto few = parse(prolog + "<r a=\"&big;&big;\">&big;&big;&big;</r>");
  ASSERT_TRUE(few.first);
  EXPECT_EQ(few.second->events[1].size(), 6 + 2u * 32 * 1024);
  EXPECT_EQ(few.second->events[2].size(), 5 + 3u * 32 * 1024);
}

TEST(XMLParserTest, TheDelegateCanAbortAndIsHeldWeakly) {
  auto parser = XMLParser::initWithData(ns::Data("<a><b/><c/></a>"));
  auto rec = ns::make<Recorder>();
  rec->abortAt = "b";
  parser->setDelegate(rec);
  EXPECT_FALSE(parser->parse());
  EXPECT_EQ(parser->parserError()->code(), ns::NSXMLParserDelegateAbortedParseError);
  EXPECT_EQ(rec->events, (Events{"start", "<a>", "<b>"}));
  ASSERT_TRUE(rec->error);

  ns::Weak<Recorder> weak = rec;
  rec.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(XMLParser::initWithData(ns::Data("<a/>"))->parse());
}

TEST(XMLParserTest, LargeDocumentsArriveInPieces) {
  std::string xml = "<list>";
  for (int i = 0; i < 20000; ++i)
    xml += "<item n=\"" + std::to_string(i) + "\">value " + std::to_string(i) + "</item>";
  xml += "</list>";
  auto [ok, rec] = parse(xml);
  ASSERT_TRUE(ok);
  EXPECT_EQ(rec->events.size(), 2u + 2 + 20000 * 3);
  EXPECT_EQ(rec->events[rec->events.size() - 4], "text:value 19999");
  EXPECT_FALSE(XMLParser::initWithContentsOfFile("/nonexistent/file.xml"));
}

}  // namespace

#pragma once
// An event-driven XML parser on libxml2. The delegate receives the document's elements,
// attributes, text, CDATA, comments and processing instructions in document order; consecutive
// pieces of text arrive as one foundCharacters call.
//
// The parser never touches the network or the file system on a document's behalf: a document
// that declares an external entity, a parameter entity, or an entity whose text refers to
// other entities is refused (NSXMLParserEntityIsExternalError or NSXMLParserEntityRefLoopError);
// external DTDs are not loaded. Simple internal entities are expanded. Errors carry the line
// and column where the parse stopped.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace ns {

inline constexpr char NSXMLParserErrorDomain[] = "NSXMLParserErrorDomain";

// The codes of NSXMLParserErrorDomain, which are libxml2's; the common ones named.
enum XMLParserError : long {
  NSXMLParserInternalError = 1,
  NSXMLParserEmptyDocumentError = 4,
  NSXMLParserPrematureDocumentEndError = 5,
  NSXMLParserUndeclaredEntityError = 26,
  NSXMLParserEntityIsExternalError = 29,
  NSXMLParserNotWellBalancedError = 85,
  NSXMLParserEntityRefLoopError = 89,
  NSXMLParserDelegateAbortedParseError = 512,
};

// An element's attributes in document order.
class XMLAttributes {
 public:
  using Entry = std::pair<std::string, std::string>;

  void add(std::string name, std::string value) { entries_.emplace_back(std::move(name), std::move(value)); }
  // The value of the attribute with this (qualified) name, or nullptr.
  const std::string* find(const std::string& name) const;
  std::optional<std::string> operator[](const std::string& name) const {
    const std::string* v = find(name);
    return v ? std::optional<std::string>(*v) : std::nullopt;
  }
  std::size_t count() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
};

class XMLParser;

// Every method is optional: the default does nothing.
class XMLParserDelegate {
 public:
  virtual ~XMLParserDelegate() = default;
  virtual void parserDidStartDocument(XMLParser& parser) {}
  virtual void parserDidEndDocument(XMLParser& parser) {}
  // Without namespace processing the element name is the qualified name and the namespace and
  // qualified name are nullopt; with it, the local name, the namespace URI and the qualified name.
  virtual void parser_didStartElement_namespaceURI_qualifiedName_attributes(
      XMLParser& parser, const std::string& elementName, const std::optional<std::string>& namespaceURI,
      const std::optional<std::string>& qualifiedName, const XMLAttributes& attributes) {}
  virtual void parser_didEndElement_namespaceURI_qualifiedName(
      XMLParser& parser, const std::string& elementName, const std::optional<std::string>& namespaceURI,
      const std::optional<std::string>& qualifiedName) {}
  virtual void parser_didStartMappingPrefix_toURI(XMLParser& parser, const std::string& prefix,
                                                  const std::string& namespaceURI) {}
  virtual void parser_didEndMappingPrefix(XMLParser& parser, const std::string& prefix) {}
  virtual void parser_foundCharacters(XMLParser& parser, const std::string& string) {}
  virtual void parser_foundCDATA(XMLParser& parser, const Data& CDATABlock) {}
  virtual void parser_foundComment(XMLParser& parser, const std::string& comment) {}
  virtual void parser_foundProcessingInstructionWithTarget_data(XMLParser& parser, const std::string& target,
                                                                const std::optional<std::string>& data) {}
  virtual void parser_parseErrorOccurred(XMLParser& parser, const Error& parseError) {}
};

class XMLParser : public Object {
 public:
  explicit XMLParser(Data data);
  ~XMLParser() override;
  static Ref<XMLParser> initWithData(Data data) { return make<XMLParser>(std::move(data)); }
  // nullptr when the file cannot be read.
  static Ref<XMLParser> initWithContentsOfFile(const std::string& path);

  // Held weakly, as the platform does.
  void setDelegate(Weak<XMLParserDelegate> delegate) { delegate_ = std::move(delegate); }
  Ref<XMLParserDelegate> delegate() const { return delegate_.lock(); }

  bool shouldProcessNamespaces() const { return processNamespaces_; }
  void setShouldProcessNamespaces(bool v) { processNamespaces_ = v; }
  bool shouldReportNamespacePrefixes() const { return reportPrefixes_; }
  void setShouldReportNamespacePrefixes(bool v) { reportPrefixes_ = v; }
  // Accepted for compatibility; external entities are refused whatever it says.
  bool shouldResolveExternalEntities() const { return false; }
  void setShouldResolveExternalEntities(bool) {}

  // Runs the whole parse on the calling thread; false after an error or abortParsing().
  bool parse();
  // From a delegate method: stops the parse, which then fails with
  // NSXMLParserDelegateAbortedParseError.
  void abortParsing();
  const std::optional<Error>& parserError() const { return error_; }

  // Where the parser is (during a callback) or where it stopped; 1-based.
  long lineNumber() const;
  long columnNumber() const;

  struct State;  // libxml2 glue

 private:
  Data data_;
  Weak<XMLParserDelegate> delegate_;
  bool processNamespaces_ = false;
  bool reportPrefixes_ = false;
  bool parsing_ = false;
  std::optional<Error> error_;
  long line_ = 0;
  long column_ = 0;
  State* state_ = nullptr;
};

}  // namespace ns

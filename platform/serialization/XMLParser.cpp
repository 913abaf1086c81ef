#include "platform/serialization/XMLParser.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace ns {

const std::string* XMLAttributes::find(const std::string& name) const {
  for (const auto& e : entries_) {
    if (e.first == name) return &e.second;
  }
  return nullptr;
}

struct XMLParser::State {
  XMLParser* parser = nullptr;
  Ref<XMLParserDelegate> delegate;
  xmlParserCtxtPtr ctxt = nullptr;
  std::string pendingText;
  // Prefixes declared by each open element, for the end-mapping calls.
  std::vector<std::vector<std::string>> prefixStack;
  std::optional<Error> error;
  bool aborted = false;
  // Text and attribute values delivered so far, and how much a document of this size may
  // deliver. Without entities they are never longer than the document; each reference to an
  // internal entity repeats its text, so a small document could otherwise expand to gigabytes.
  std::size_t textDelivered = 0;
  std::size_t textAllowance = 0;

  void flushText() {
    if (pendingText.empty()) return;
    std::string text;
    text.swap(pendingText);
    if (delegate && !stopped()) delegate->parser_foundCharacters(*parser, text);
  }
  bool stopped() const { return aborted || error.has_value(); }

  void fail(long code, std::string message, long line, long column) {
    if (error) return;
    Dictionary info;
    info.set(
        NSLocalizedDescriptionKey,
        "The operation couldn’t be completed. (NSXMLParserErrorDomain error " + std::to_string(code) + ".)");
    info.set("NSXMLParserErrorMessage", message);
    info.set("NSXMLParserErrorLineNumber", line);
    info.set("NSXMLParserErrorColumn", column);
    error = Error(NSXMLParserErrorDomain, code, std::move(info));
    parser->line_ = line;
    parser->column_ = column;
    if (ctxt) xmlStopParser(ctxt);
  }
  void failHere(long code, std::string message) {
    fail(code, std::move(message), ctxt ? xmlSAX2GetLineNumber(ctxt) : 0,
         ctxt ? xmlSAX2GetColumnNumber(ctxt) : 0);
  }
};

namespace {

using State = XMLParser::State;

State* stateOf(void* ctx) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  return static_cast<State*>(ctxt->_private);
}

std::string text(const xmlChar* s) {
  return s ? reinterpret_cast<const char*>(s) : "";
}
std::string text(const xmlChar* s, int len) {
  return std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(len));
}

std::string qualified(const xmlChar* prefix, const xmlChar* local) {
  return prefix ? text(prefix) + ":" + text(local) : text(local);
}

void onStartDocument(void* ctx) {
  xmlSAX2StartDocument(ctx);  // keeps the DTD's entity tables; elements never reach the tree
  State* s = stateOf(ctx);
  if (s->delegate && !s->stopped()) s->delegate->parserDidStartDocument(*s->parser);
}

void onEndDocument(void* ctx) {
  State* s = stateOf(ctx);
  s->flushText();
}

void onStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                    int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int /*nbDefaulted*/,
                    const xmlChar** attributes) {
  State* s = stateOf(ctx);
  s->flushText();
  if (s->stopped()) return;
  XMLParser& p = *s->parser;
  XMLAttributes attrs;
  std::vector<std::string> prefixes;
  for (int i = 0; i < nbNamespaces; ++i) {
    std::string nsPrefix = text(namespaces[2 * i]);
    std::string nsUri = text(namespaces[2 * i + 1]);
    if (p.shouldProcessNamespaces()) {
      if (p.shouldReportNamespacePrefixes()) {
        prefixes.push_back(nsPrefix);
        if (s->delegate) s->delegate->parser_didStartMappingPrefix_toURI(p, nsPrefix, nsUri);
        if (s->stopped()) return;
      }
    } else {
      attrs.add(nsPrefix.empty() ? "xmlns" : "xmlns:" + nsPrefix, nsUri);
    }
  }
  // Attribute values expand entities as text does, and share its allowance.
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar** a = attributes + 5 * i;
    s->textDelivered += static_cast<std::size_t>(a[4] - a[3]);
  }
  if (s->textDelivered > s->textAllowance) {
    s->failHere(NSXMLParserEntityRefLoopError,
                "entity references expand to far more text than the document holds");
    return;
  }
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar** a = attributes + 5 * i;
    attrs.add(qualified(a[1], a[0]), text(a[3], static_cast<int>(a[4] - a[3])));
  }
  s->prefixStack.push_back(std::move(prefixes));
  if (!s->delegate) return;
  if (p.shouldProcessNamespaces()) {
    std::optional<std::string> nsUri = uri ? std::optional<std::string>(text(uri)) : std::nullopt;
    s->delegate->parser_didStartElement_namespaceURI_qualifiedName_attributes(
        p, text(localname), nsUri, qualified(prefix, localname), attrs);
  } else {
    s->delegate->parser_didStartElement_namespaceURI_qualifiedName_attributes(
        p, qualified(prefix, localname), std::nullopt, std::nullopt, attrs);
  }
}

void onEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  State* s = stateOf(ctx);
  s->flushText();
  if (s->stopped()) return;
  XMLParser& p = *s->parser;
  std::vector<std::string> prefixes;
  if (!s->prefixStack.empty()) {
    prefixes = std::move(s->prefixStack.back());
    s->prefixStack.pop_back();
  }
  if (!s->delegate) return;
  if (p.shouldProcessNamespaces()) {
    std::optional<std::string> nsUri = uri ? std::optional<std::string>(text(uri)) : std::nullopt;
    s->delegate->parser_didEndElement_namespaceURI_qualifiedName(p, text(localname), nsUri,
                                                                 qualified(prefix, localname));
    for (const auto& pre : prefixes) {
      if (s->stopped()) return;
      s->delegate->parser_didEndMappingPrefix(p, pre);
    }
  } else {
    s->delegate->parser_didEndElement_namespaceURI_qualifiedName(p, qualified(prefix, localname),
                                                                 std::nullopt, std::nullopt);
  }
}

void onCharacters(void* ctx, const xmlChar* ch, int len) {
  State* s = stateOf(ctx);
  if (s->stopped()) return;
  s->textDelivered += static_cast<std::size_t>(len);
  if (s->textDelivered > s->textAllowance) {
    s->failHere(NSXMLParserEntityRefLoopError,
                "entity references expand to far more text than the document holds");
    return;
  }
  s->pendingText.append(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
}

void onCDATA(void* ctx, const xmlChar* value, int len) {
  State* s = stateOf(ctx);
  s->flushText();
  if (s->delegate && !s->stopped())
    s->delegate->parser_foundCDATA(*s->parser, Data(value, static_cast<std::size_t>(len)));
}

void onComment(void* ctx, const xmlChar* value) {
  State* s = stateOf(ctx);
  s->flushText();
  if (s->delegate && !s->stopped()) s->delegate->parser_foundComment(*s->parser, text(value));
}

void onProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
  State* s = stateOf(ctx);
  s->flushText();
  if (s->delegate && !s->stopped()) {
    s->delegate->parser_foundProcessingInstructionWithTarget_data(
        *s->parser, text(target), data ? std::optional<std::string>(text(data)) : std::nullopt);
  }
}

// Entity declarations decide what may be expanded: only internal general entities whose text
// names no other entity. Anything else stops the parse before a reference could use it.
void onEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId, const xmlChar* systemId,
                  xmlChar* content) {
  State* s = stateOf(ctx);
  if (type != XML_INTERNAL_GENERAL_ENTITY) {
    s->failHere(NSXMLParserEntityIsExternalError,
                "entity '" + text(name) + "' is external or a parameter entity");
    return;
  }
  std::string body = text(content);
  for (std::size_t pos = body.find('&'); pos != std::string::npos; pos = body.find('&', pos + 1)) {
    if (pos + 1 >= body.size() || body[pos + 1] != '#') {
      s->failHere(NSXMLParserEntityRefLoopError, "entity '" + text(name) + "' refers to other entities");
      return;
    }
  }
  xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
}

void onExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}

xmlParserInputPtr onResolveEntity(void* ctx, const xmlChar*, const xmlChar* systemId) {
  State* s = stateOf(ctx);
  s->failHere(NSXMLParserEntityIsExternalError, "external resource '" + text(systemId) + "' is not loaded");
  return nullptr;
}

void onStructuredError(void* userData, xmlErrorPtr err) {
  if (!err || err->level < XML_ERR_ERROR) return;
  auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
  State* s = ctxt ? static_cast<State*>(ctxt->_private) : nullptr;
  if (!s) return;
  std::string message = err->message ? err->message : "";
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  s->fail(err->code ? long(err->code) : long(NSXMLParserInternalError), message, err->line, err->int2);
}

void initLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

XMLParser::XMLParser(Data data) : data_(std::move(data)) {}

XMLParser::~XMLParser() = default;

Ref<XMLParser> XMLParser::initWithContentsOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  std::stringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return nullptr;
  return make<XMLParser>(Data(ss.str()));
}

bool XMLParser::parse() {
  if (parsing_) return false;
  initLibxml();
  parsing_ = true;
  error_.reset();
  State state;
  state.parser = this;
  state.delegate = delegate_.lock();
  state_ = &state;

  xmlSAXHandler handler;
  std::memset(&handler, 0, sizeof handler);
  xmlSAXVersion(&handler, 2);
  handler.startDocument = onStartDocument;
  handler.endDocument = onEndDocument;
  handler.startElementNs = onStartElement;
  handler.endElementNs = onEndElement;
  handler.startElement = nullptr;
  handler.endElement = nullptr;
  handler.characters = onCharacters;
  handler.ignorableWhitespace = onCharacters;
  handler.cdataBlock = onCDATA;
  handler.comment = onComment;
  handler.processingInstruction = onProcessingInstruction;
  handler.entityDecl = onEntityDecl;
  handler.externalSubset = onExternalSubset;
  handler.resolveEntity = onResolveEntity;
  handler.reference = nullptr;
  handler.warning = nullptr;
  handler.error = nullptr;
  handler.fatalError = nullptr;
  handler.serror = onStructuredError;

  const char* bytes = reinterpret_cast<const char*>(data_.bytes());
  std::size_t length = data_.length();
  state.textAllowance = length * 8 + (std::size_t{1} << 20);
  xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&handler, nullptr, nullptr, 0, nullptr);
  if (!ctxt) {
    parsing_ = false;
    state_ = nullptr;
    error_ = Error(NSXMLParserErrorDomain, NSXMLParserInternalError);
    return false;
  }
  ctxt->_private = &state;
  // The structured handler receives the context as its data.
  ctxt->sax->serror = onStructuredError;
  ctxt->userData = ctxt;
  state.ctxt = ctxt;
  // Expand the (vetted) internal entities; never the network; no external DTD.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NOENT | XML_PARSE_NONET);
  ctxt->loadsubset = 0;
  ctxt->validate = 0;

  if (length == 0) {
    state.fail(NSXMLParserEmptyDocumentError, "Document is empty", 1, 0);
  }
  constexpr std::size_t kChunk = 1 << 16;
  std::size_t offset = 0;
  while (!state.stopped() && offset < length) {
    std::size_t n = std::min(kChunk, length - offset);
    xmlParseChunk(ctxt, bytes + offset, static_cast<int>(n), 0);
    offset += n;
  }
  if (!state.stopped()) xmlParseChunk(ctxt, nullptr, 0, 1);
  if (!state.stopped() && !ctxt->wellFormed) {
    const xmlError* err = xmlCtxtGetLastError(ctxt);
    state.fail(err && err->code ? long(err->code) : long(NSXMLParserInternalError),
               err && err->message ? err->message : "", err ? err->line : 0, err ? err->int2 : 0);
  }
  if (!state.error) {
    line_ = xmlSAX2GetLineNumber(ctxt);
    column_ = xmlSAX2GetColumnNumber(ctxt);
  }
  if (ctxt->myDoc) {
    xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
  }
  xmlFreeParserCtxt(ctxt);
  state.ctxt = nullptr;

  bool ok = false;
  if (state.aborted) {
    Dictionary info;
    info.set(NSLocalizedDescriptionKey,
             "The operation couldn’t be completed. (NSXMLParserErrorDomain error 512.)");
    error_ = Error(NSXMLParserErrorDomain, NSXMLParserDelegateAbortedParseError, std::move(info));
  } else if (state.error) {
    error_ = state.error;
  } else {
    ok = true;
  }
  state_ = nullptr;
  parsing_ = false;
  if (state.delegate) {
    if (ok) {
      state.delegate->parserDidEndDocument(*this);
    } else {
      state.delegate->parser_parseErrorOccurred(*this, *error_);
    }
  }
  return ok;
}

void XMLParser::abortParsing() {
  if (!state_) return;
  state_->aborted = true;
  state_->pendingText.clear();
  if (state_->ctxt) {
    line_ = xmlSAX2GetLineNumber(state_->ctxt);
    column_ = xmlSAX2GetColumnNumber(state_->ctxt);
    xmlStopParser(state_->ctxt);
  }
}

long XMLParser::lineNumber() const {
  if (state_ && state_->ctxt && !state_->stopped()) return xmlSAX2GetLineNumber(state_->ctxt);
  return line_;
}

long XMLParser::columnNumber() const {
  if (state_ && state_->ctxt && !state_->stopped()) return xmlSAX2GetColumnNumber(state_->ctxt);
  return column_;
}

}  // namespace ns

// XML documents through the event parser, with and without namespace processing. Entities may
// repeat their text, but everything the delegate receives (text, attribute values, CDATA,
// comments) stays within a bound proportional to the document.
#include <cstdint>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "platform/serialization/XMLParser.h"

namespace {

class CountingDelegate : public ns::XMLParserDelegate {
 public:
  explicit CountingDelegate(std::size_t bound) : bound_(bound) {}

  void parser_didStartElement_namespaceURI_qualifiedName_attributes(
      ns::XMLParser&, const std::string& name, const std::optional<std::string>&,
      const std::optional<std::string>&, const ns::XMLAttributes& attributes) override {
    count(name.size());
    for (const auto& [key, value] : attributes) count(key.size() + value.size());
  }
  void parser_foundCharacters(ns::XMLParser&, const std::string& s) override { count(s.size()); }
  void parser_foundCDATA(ns::XMLParser&, const ns::Data& block) override { count(block.length()); }
  void parser_foundComment(ns::XMLParser&, const std::string& s) override { count(s.size()); }
  void parser_foundProcessingInstructionWithTarget_data(ns::XMLParser&, const std::string& target,
                                                        const std::optional<std::string>& data) override {
    count(target.size() + (data ? data->size() : 0));
  }

 private:
  void count(std::size_t n) {
    delivered_ += n;
    if (delivered_ > bound_)
      fuzz::fail("the parser delivered " + std::to_string(delivered_) + " bytes for a document allowed " +
                 std::to_string(bound_));
  }
  std::size_t bound_;
  std::size_t delivered_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Text and attribute values each may expand to eight times the document plus 1 MiB.
  const std::size_t bound = 2 * (8 * size + (std::size_t{1} << 20));
  for (bool namespaces : {false, true}) {
    auto delegate = std::make_shared<CountingDelegate>(bound);
    auto parser = ns::XMLParser::initWithData(ns::Data(data, size));
    parser->setDelegate(delegate);
    parser->setShouldProcessNamespaces(namespaces);
    parser->setShouldReportNamespacePrefixes(namespaces);
    parser->parse();
  }
  return 0;
}

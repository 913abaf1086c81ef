#pragma once
// Writes object graphs in the platform's keyed-archive layout, a property list (binary unless
// told otherwise) of the form
//   { "$archiver": "NSKeyedArchiver", "$version": 100000, "$top": { "root": UID },
//     "$objects": [ "$null", ... ] }
// Strings, numbers and data are stored in "$objects" as they are; arrays, dictionaries and sets
// as "NS.objects"/"NS.keys" lists of UIDs, dates as "NS.time", the null marker as NSNull;
// objects that adopt Coding as a dictionary of their keys with "$class" naming a
// { "$classname", "$classes" } entry. An object met twice is stored once, so shared objects
// and cycles survive. Arrays, dictionaries and sets are values here and are stored per use.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/serialization/Coder.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace ns {

// The key under which the archiving conveniences store the root object.
inline constexpr char NSKeyedArchiveRootObjectKey[] = "root";

// How deeply objects may nest inside one another in an archive. The unarchiver refuses deeper
// archives (its decoding recurses), so the archiver refuses to write them.
inline constexpr int kKeyedArchiveMaxNesting = 512;

class KeyedArchiver : public Coder {
 public:
  // With secure coding, only classes registered as supporting it may be encoded. Made with
  // ns::make: objects coding themselves through the runtime receive the archiver as an object.
  explicit KeyedArchiver(bool requiresSecureCoding = true);
  ~KeyedArchiver() override;
  static Ref<KeyedArchiver> initRequiringSecureCoding(bool requiresSecureCoding) {
    return make<KeyedArchiver>(requiresSecureCoding);
  }
  std::string className() const override { return "NSKeyedArchiver"; }

  // nullopt with an NSCoderInvalidValueError (4866) for an object that cannot be archived.
  static std::optional<Data> archivedDataWithRootObject_requiringSecureCoding_error(const Value& root,
                                                                                    bool requiresSecureCoding,
                                                                                    Error* error);
  // Without secure coding; raises NSInvalidArgumentException for an object that is not Coding.
  static Data archivedDataWithRootObject(const Value& root);

  void setOutputFormat(PropertyListFormat format) { format_ = format; }
  PropertyListFormat outputFormat() const { return format_; }
  // Ends encoding (further encoding raises) and answers the archive.
  Data encodedData();
  void finishEncoding();

  bool requiresSecureCoding() const override { return secure_; }
  void encodeObject_forKey(const Value& object, const std::string& key) override;
  void encodeBool_forKey(bool value, const std::string& key) override;
  void encodeInt64_forKey(std::int64_t value, const std::string& key) override;
  void encodeFloat_forKey(float value, const std::string& key) override;
  void encodeDouble_forKey(double value, const std::string& key) override;
  void encodeBytes_length_forKey(const void* bytes, std::size_t length, const std::string& key) override;

  bool containsValueForKey(const std::string& key) const override;
  Value decodeObjectForKey(const std::string& key) override;
  Value decodeObjectOfClass_forKey(const std::string& className, const std::string& key) override;
  Value decodeObjectOfClasses_forKey(const std::vector<std::string>& classNames,
                                     const std::string& key) override;
  bool decodeBoolForKey(const std::string& key) override;
  std::int64_t decodeInt64ForKey(const std::string& key) override;
  float decodeFloatForKey(const std::string& key) override;
  double decodeDoubleForKey(const std::string& key) override;
  Data decodeBytesForKey(const std::string& key) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool secure_;
  PropertyListFormat format_ = PropertyListBinaryFormat_v1_0;
};

}  // namespace ns

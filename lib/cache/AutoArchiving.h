#pragma once
// Automatic keyed archiving: a class that derives from AutoArchiving (beside ns::Object) and is
// registered with the object runtime archives itself with the keyed archiver from its declared
// properties, one keyed value per property under the property's name, and is decoded by
// setting those properties back through key-value coding. A class that overrides
// encodeWithCoder/initWithCoder keeps its own coding.
//
// Which properties are coded follows their declarations (type encoding and backing field):
//   numbers, booleans and structures, and objects of a named class ('@"NSString"') are coded;
//   untyped objects ('@'), blocks, pointers, C strings and selectors are not;
//   a property backed by a field is coded only when the field is named like the property (with
//   or without a leading "_"); one without a field only when it is dynamic and not read-only.
// A class may exclude names with a class method "uncodableProperties" (logged as deprecated).
//
// Decoding makes the object with its default constructor, so a property missing from an archive
// keeps its constructor default (not zero). A decoded value of the wrong class raises
// "AutoArchivingException".
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/TypeCodec.h"
#include "platform/serialization/Coder.h"

inline constexpr char AutoArchivingException[] = "AutoArchivingException";

class AutoArchiving : public ns::Coding {
 public:
  // The codable properties declared by exactly this class: name -> expected class name, in
  // declaration order. Built once per class and kept.
  static ns::Dictionary codablePropertiesOfClass(ns::Class cls);
  // The codable properties of the class and its superclasses up to (not including) NSObject;
  // a name declared twice takes the entry nearer the root.
  static ns::Dictionary allCodablePropertiesOfClass(ns::Class cls);
  ns::Dictionary codableProperties() const;
  // Name -> current value of every codable property whose value is not nil.
  ns::Dictionary dictionaryRepresentation() const;

  void encodeWithCoder(ns::Coder& coder) const override;
  // Calls setWithCoder and nothing else.
  void initWithCoder(ns::Coder& coder) override;
  void setWithCoder(ns::Coder& coder);
  // The runtime's name of the object's class.
  std::string classNameForKeyedArchiver() const override;

  // The file's contents: the unarchived object for a keyed archive, the property list for any
  // other property list, the bytes for anything else; nil when the file cannot be read or the
  // archive cannot be decoded (AutoArchivingException reaches the caller).
  static ns::Value objectWithContentsOfFile(const std::string& path);
  // A keyed archive of this object (the root object) written to the file.
  bool writeToFile_atomically(const std::string& path, bool atomically) const;

 private:
  const ns::Object& object() const;
};

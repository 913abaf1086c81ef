#pragma once
// Reads keyed archives (see KeyedArchiver.h), also those written by the original platform,
// including the mutable container classes. Objects of classes that adopt Coding are made through
// CodingRegistry by the name in the archive and filled with initWithCoder; an object referred to
// twice is made once, so shared objects and cycles come back as they were.
//
// Secure decoding (on by default for the class-checked conveniences) accepts only objects whose
// class, or a superclass, is among the allowed classes of the innermost decodeObjectOfClasses
// call; strings, numbers and data count as NSString, NSNumber and NSData.
//
// Damage (a missing structure, a top-level value that is no reference, a bad UID, a loop through
// arrays or dictionaries, an unknown class) is reported as an error by the conveniences that
// take one; unarchiveObjectWithData answers nil. Exceptions raised by a class's own decoding,
// such as a type mismatch, reach the caller of unarchiveObjectWithData, as on the original
// platform.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/serialization/Coder.h"

namespace ns {

class KeyedUnarchiver : public Coder {
 public:
  // Use initForReadingFromData_error.
  KeyedUnarchiver();
  ~KeyedUnarchiver() override;
  std::string className() const override { return "NSKeyedUnarchiver"; }

  // nullptr with NSCoderReadCorruptError (4864) when the data is no keyed archive.
  static Ref<KeyedUnarchiver> initForReadingFromData_error(const Data& data, Error* error);

  // Secure decoding of the root object with the allowed classes; nil with an error (4864) for
  // damage or a refused class.
  static Value unarchivedObjectOfClass_fromData_error(const std::string& className, const Data& data,
                                                      Error* error);
  static Value unarchivedObjectOfClasses_fromData_error(const std::vector<std::string>& classNames,
                                                        const Data& data, Error* error);
  // Without class checks.
  static Value unarchiveTopLevelObjectWithData_error(const Data& data, Error* error);
  static Value unarchiveObjectWithData(const Data& data);

  void setRequiresSecureCoding(bool secure) { secure_ = secure; }
  bool requiresSecureCoding() const override { return secure_; }
  void finishDecoding() {}

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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  bool secure_ = false;
};

}  // namespace ns

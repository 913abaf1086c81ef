#pragma once
// The coding protocol and the coder interface shared by the keyed archiver and unarchiver.
//
// A class that archives itself derives from Coding as well as from ns::Object, and registers
// a factory under its class name (CodingRegistry), so that the unarchiver can make an empty
// instance and then fill it with initWithCoder. The instance is known to the unarchiver before
// initWithCoder runs, so an object graph with cycles decodes into the same cycles.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class Coder;

class Coding {
 public:
  virtual ~Coding() = default;
  virtual void encodeWithCoder(Coder& coder) const = 0;
  // Fills an instance just made by the class's registered factory.
  virtual void initWithCoder(Coder& coder) = 0;
  // The class name written into archives; empty means the object's className().
  virtual std::string classNameForKeyedArchiver() const { return {}; }
};

// Keys are strings; keys that begin with "$" are escaped in the archive, so any key may be used.
// An archiver raises NSInvalidArgumentException when asked to decode, and an unarchiver when
// asked to encode.
//
// Coders are objects of the runtime (NSCoder, NSKeyedArchiver, NSKeyedUnarchiver) that answer
// encodeObject:forKey:, decodeObjectForKey:, decodeObjectOfClass:forKey: and the scalar forms,
// so that classes which code themselves through the runtime (encodeWithCoder: and
// initWithCoder: methods instead of the Coding interface) are archived too.
class Coder : public Object {
 public:
  ~Coder() override = default;

  bool allowsKeyedCoding() const { return true; }
  virtual bool requiresSecureCoding() const = 0;

  virtual void encodeObject_forKey(const Value& object, const std::string& key) = 0;
  virtual void encodeBool_forKey(bool value, const std::string& key) = 0;
  virtual void encodeInt64_forKey(std::int64_t value, const std::string& key) = 0;
  void encodeInt_forKey(int value, const std::string& key) { encodeInt64_forKey(value, key); }
  void encodeInt32_forKey(std::int32_t value, const std::string& key) { encodeInt64_forKey(value, key); }
  void encodeInteger_forKey(long value, const std::string& key) { encodeInt64_forKey(value, key); }
  virtual void encodeFloat_forKey(float value, const std::string& key) = 0;
  virtual void encodeDouble_forKey(double value, const std::string& key) = 0;
  virtual void encodeBytes_length_forKey(const void* bytes, std::size_t length, const std::string& key) = 0;

  virtual bool containsValueForKey(const std::string& key) const = 0;
  // Secure decoders accept only classes allowed by the innermost decodeObjectOfClasses call.
  virtual Value decodeObjectForKey(const std::string& key) = 0;
  // The object under the key. A secure decoder raises NSInvalidUnarchiveOperationException,
  // naming the key and the classes, unless its class (or a superclass) is one of those named.
  virtual Value decodeObjectOfClass_forKey(const std::string& className, const std::string& key) = 0;
  virtual Value decodeObjectOfClasses_forKey(const std::vector<std::string>& classNames,
                                             const std::string& key) = 0;
  // Absent keys decode as NO, 0 and empty; a value of another type raises
  // NSInvalidUnarchiveOperationException naming the key.
  virtual bool decodeBoolForKey(const std::string& key) = 0;
  virtual std::int64_t decodeInt64ForKey(const std::string& key) = 0;
  int decodeIntForKey(const std::string& key) { return static_cast<int>(decodeInt64ForKey(key)); }
  std::int32_t decodeInt32ForKey(const std::string& key) {
    return static_cast<std::int32_t>(decodeInt64ForKey(key));
  }
  long decodeIntegerForKey(const std::string& key) { return static_cast<long>(decodeInt64ForKey(key)); }
  virtual float decodeFloatForKey(const std::string& key) = 0;
  virtual double decodeDoubleForKey(const std::string& key) = 0;
  virtual Data decodeBytesForKey(const std::string& key) = 0;
};

}  // namespace ns

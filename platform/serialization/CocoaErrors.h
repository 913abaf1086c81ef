#pragma once
// The error codes of NSCocoaErrorDomain that the file, property-list, JSON and archive services
// answer with, under the platform's own numbers so that stored or compared codes match.
namespace ns {

enum CocoaErrorCode : long {
  NSFileNoSuchFileError = 4,
  NSFileLockingError = 255,
  NSFileReadUnknownError = 256,
  NSFileReadNoPermissionError = 257,
  NSFileReadInvalidFileNameError = 258,
  NSFileReadCorruptFileError = 259,
  NSFileReadNoSuchFileError = 260,
  NSFileReadInapplicableStringEncodingError = 261,
  NSFileReadUnsupportedSchemeError = 262,
  NSFileReadTooLargeError = 263,
  NSFileWriteUnknownError = 512,
  NSFileWriteNoPermissionError = 513,
  NSFileWriteInvalidFileNameError = 514,
  NSFileWriteFileExistsError = 516,
  NSFileWriteInapplicableStringEncodingError = 517,
  NSFileWriteOutOfSpaceError = 640,
  NSFileWriteVolumeReadOnlyError = 642,
  NSPropertyListReadCorruptError = 3840,
  NSPropertyListReadUnknownVersionError = 3841,
  NSPropertyListReadStreamError = 3842,
  NSPropertyListWriteStreamError = 3851,
  NSPropertyListWriteInvalidError = 3852,
  NSCoderReadCorruptError = 4864,
  NSCoderValueNotFoundError = 4865,
  NSCoderInvalidValueError = 4866,
};

// User-info key of the platform's debugging text, which names what exactly went wrong.
inline constexpr char NSDebugDescriptionErrorKey[] = "NSDebugDescription";

}  // namespace ns

// Windows error codes used by the program, and their standard English system messages.
// Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace hm {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorOutOfMemory = 14;
inline constexpr uint32_t kErrorNotSameDevice = 17;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorBadNetpath = 53;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorCallNotImplemented = 120;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorBadDb = 1009;
inline constexpr uint32_t kErrorBadKey = 1010;
inline constexpr uint32_t kErrorCantOpen = 1011;
inline constexpr uint32_t kErrorCantRead = 1012;
inline constexpr uint32_t kErrorCantWrite = 1013;
inline constexpr uint32_t kErrorRegistryRecovered = 1014;
inline constexpr uint32_t kErrorRegistryCorrupt = 1015;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorNotRegistryFile = 1017;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorKeyHasChildren = 1020;
inline constexpr uint32_t kErrorChildMustBeVolatile = 1021;
inline constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
inline constexpr uint32_t kErrorNoSuchUser = 1317;
inline constexpr uint32_t kErrorFileCorrupt = 1392;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// The system message of a code as Windows' FormatMessage gives it in English, without the trailing
// line break ("The system cannot find the file specified."). Unknown codes get a generic text that
// still names the code.
std::string WinErrorMessage(uint32_t code);

// The Windows error code that best describes a POSIX errno value from a host file operation.
uint32_t WinErrorFromErrno(int err);

}  // namespace hm

#include "platform/win_error.h"

#include <cerrno>
#include <unordered_map>

#include "platform/status.h"

namespace hm {

std::string WinErrorMessage(uint32_t code) {
  static const std::unordered_map<uint32_t, const char*> kMessages = {
      {kErrorSuccess, "The operation completed successfully."},
      {kErrorInvalidFunction, "Incorrect function."},
      {kErrorFileNotFound, "The system cannot find the file specified."},
      {kErrorPathNotFound, "The system cannot find the path specified."},
      {kErrorAccessDenied, "Access is denied."},
      {kErrorInvalidHandle, "The handle is invalid."},
      {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
      {kErrorInvalidData, "The data is invalid."},
      {kErrorOutOfMemory, "Not enough memory resources are available to complete this operation."},
      {kErrorNotSameDevice, "The system cannot move the file to a different disk drive."},
      {kErrorWriteProtect, "The media is write protected."},
      {kErrorGenFailure, "A device attached to the system is not functioning."},
      {kErrorSharingViolation,
       "The process cannot access the file because it is being used by another process."},
      {kErrorHandleEof, "Reached the end of the file."},
      {kErrorNotSupported, "The request is not supported."},
      {kErrorBadNetpath, "The network path was not found."},
      {kErrorFileExists, "The file exists."},
      {kErrorInvalidParameter, "The parameter is incorrect."},
      {kErrorDiskFull, "There is not enough space on the disk."},
      {kErrorCallNotImplemented, "This function is not supported on this system."},
      {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
      {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
      {kErrorDirNotEmpty, "The directory is not empty."},
      {kErrorBadPathname, "The specified path is invalid."},
      {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
      {kErrorFilenameExcedRange, "The filename or extension is too long."},
      {kErrorMoreData, "More data is available."},
      {kErrorNoMoreItems, "No more data is available."},
      {kErrorBadDb, "The configuration registry database is corrupt."},
      {kErrorBadKey, "The configuration registry key is invalid."},
      {kErrorCantOpen, "The configuration registry key could not be opened."},
      {kErrorCantRead, "The configuration registry key could not be read."},
      {kErrorCantWrite, "The configuration registry key could not be written."},
      {kErrorRegistryRecovered,
       "One of the files in the registry database had to be recovered by use of a log or "
       "alternate copy. The recovery was successful."},
      {kErrorRegistryCorrupt,
       "The registry is corrupted. The structure of one of the files containing registry data is "
       "corrupted, or the system's memory image of the file is corrupted, or the file could not "
       "be recovered because the alternate copy or log was absent or corrupted."},
      {kErrorRegistryIoFailed,
       "An I/O operation initiated by the registry failed unrecoverably. The registry could not "
       "read in, or write out, or flush, one of the files that contain the system's image of the "
       "registry."},
      {kErrorNotRegistryFile,
       "The system has attempted to load or restore a file into the registry, but the specified "
       "file is not in a registry file format."},
      {kErrorKeyDeleted,
       "Illegal operation attempted on a registry key that has been marked for "
       "deletion."},
      {kErrorKeyHasChildren,
       "Cannot create a symbolic link in a registry key that already has subkeys or values."},
      {kErrorChildMustBeVolatile, "Cannot create a stable subkey under a volatile parent key."},
      {kErrorPrivilegeNotHeld, "A required privilege is not held by the client."},
      {kErrorNoSuchUser, "The specified account does not exist."},
      {kErrorFileCorrupt, "The file or directory is corrupted and unreadable."},
      {kErrorCantResolveFilename, "The name of the file cannot be resolved by the system."},
  };
  auto it = kMessages.find(code);
  if (it != kMessages.end()) return it->second;
  return "Unknown error (" + std::to_string(code) + ").";
}

uint32_t WinErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EBUSY:
      return kErrorSharingViolation;
    case EINVAL:
      return kErrorInvalidParameter;
    case EXDEV:
      return kErrorNotSameDevice;
    case ELOOP:
      return kErrorCantResolveFilename;
    default:
      return kErrorGenFailure;
  }
}

std::string Status::ToString() const {
  std::string message = WinErrorMessage(code_);
  if (context_.empty()) return message;
  return context_ + ": " + message;
}

}  // namespace hm

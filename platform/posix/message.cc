// The system's text for an error, as FormatMessageA gives it on Windows.
#include <cstring>

#include "platform/posix/error.h"
#include "platform/win32.h"

namespace {

struct Message {
  DWORD error;
  const char* text;
};

// Every error this layer reports (from Win32Error and from its own calls), in Windows' words.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_NOT_READY, "The device is not ready."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available."},
    {ERROR_UNEXP_NET_ERR, "An unexpected network error occurred."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_FILE_INVALID,
     "The volume for a file has been externally altered so that the opened file is no longer "
     "valid."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."},
    {ERROR_TOO_MANY_LINKS,
     "An attempt was made to create more links on a file than the file system supports."},
    {ERROR_FILE_CORRUPT, "The file or directory is corrupted and unreadable."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
};

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     va_list*) {
  if ((flags & ~FORMAT_MESSAGE_IGNORE_INSERTS) != FORMAT_MESSAGE_FROM_SYSTEM) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  for (const Message& message : kMessages) {
    if (message.error != message_id) continue;
    const std::size_t length = std::strlen(message.text);
    // The text, CR LF and the terminator.
    if (buffer == nullptr || length + 3 > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, message.text, length);
    std::memcpy(buffer + length, "\r\n", 3);
    return static_cast<DWORD>(length + 2);
  }
  return Fail(ERROR_MR_MID_NOT_FOUND);
}

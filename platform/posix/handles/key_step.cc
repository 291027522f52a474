// Rights and the per-call frame on a key handle.
#include "platform/posix/handles/key_step.h"

#include "platform/posix/handles/registry_session.h"

namespace orvik::posix {

LONG GrantAccess(REGSAM desired, bool writable, REGSAM* granted) {
  constexpr auto kIgnored = static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY | SYNCHRONIZE);
  constexpr auto kGeneric = static_cast<REGSAM>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE |
                                                GENERIC_ALL | MAXIMUM_ALLOWED);
  REGSAM access = desired & ~kIgnored;
  if ((access & GENERIC_READ) != 0) access |= KEY_READ;
  if ((access & GENERIC_WRITE) != 0) access |= KEY_WRITE;
  if ((access & GENERIC_EXECUTE) != 0) access |= KEY_EXECUTE;
  if ((access & GENERIC_ALL) != 0) access |= KEY_ALL_ACCESS;
  if ((access & MAXIMUM_ALLOWED) != 0) access |= writable ? KEY_ALL_ACCESS : KEY_READ;
  access &= ~kGeneric;
  if (!writable && (access & kWriteRights) != 0) return ERROR_ACCESS_DENIED;
  *granted = access;
  return ERROR_SUCCESS;
}

LONG KeyStep::Start(HKEY key, REGSAM needed, Mode mode) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (LONG rc = OpenSession(&handles_); rc != ERROR_SUCCESS) return rc;
  handle_ = handles_->Find(key);
  if (handle_ == nullptr) return ERROR_INVALID_HANDLE;
  if ((handle_->access & needed) != needed) return ERROR_ACCESS_DENIED;
  writing_ = mode == kWrite || (mode == kWriteWhenWritable && handle_->tree->Writable());
  if (LONG rc = handle_->tree->Begin(writing_, &stamp_); rc != ERROR_SUCCESS) return rc;
  open_ = true;
  if (!handle_->checked || handle_->checked_stamp != stamp_) {
    bool exists = false;
    if (LONG rc = handle_->tree->KeyExists(handle_->key, &exists); rc != ERROR_SUCCESS) {
      return Finish(rc);
    }
    if (!exists) return Finish(ERROR_KEY_DELETED);
    handle_->checked = true;
    handle_->checked_stamp = stamp_;
  }
  return ERROR_SUCCESS;
}

LONG KeyStep::Finish(LONG result) {
  if (!open_) return result;
  open_ = false;
  const LONG end = handle_->tree->End(result == ERROR_SUCCESS);
  return result == ERROR_SUCCESS ? end : result;
}

}  // namespace orvik::posix

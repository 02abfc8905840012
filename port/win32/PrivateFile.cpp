#include "port/PrivateFile.h"

#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include <string>
#include <system_error>
#include <vector>

namespace Quorvel::port {

namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& from, const std::filesystem::path& to,
                       DWORD error) {
  throw std::filesystem::filesystem_error(what, from, to,
                                          std::error_code(static_cast<int>(error), std::system_category()));
}

// A protected access list granting the current user, and no one else, every
// right on a file. Empty when the user cannot be told.
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool known = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!known) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.resize(aclSize);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      acl_.clear();
      return;
    }
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  OwnerOnly(const OwnerOnly&) = delete;
  OwnerOnly& operator=(const OwnerOnly&) = delete;

  bool valid() const { return !acl_.empty(); }
  SECURITY_ATTRIBUTES* attributes() { return valid() ? &attributes_ : nullptr; }
  PACL acl() { return reinterpret_cast<PACL>(acl_.data()); }

  // Replaces the owner and the access list of the file at `path` with the
  // current user and this list (inherited entries dropped).
  bool applyTo(const std::filesystem::path& path) {
    if (!valid()) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const bool applied = SetSecurityInfo(file, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                             PROTECTED_DACL_SECURITY_INFORMATION,
                                         sid, nullptr, acl(), nullptr) == ERROR_SUCCESS;
    CloseHandle(file);
    return applied;
  }

 private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

bool writeAll(HANDLE file, const char* data, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

void copyToPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  OwnerOnly owner;
  if (!owner.valid()) fail("copy to a private file: the current user", from, to, GetLastError());
  HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
  if (in == INVALID_HANDLE_VALUE) fail("copy to a private file: open the source", from, to, GetLastError());
  HANDLE out = CreateFileW(to.c_str(), GENERIC_WRITE, 0, owner.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    fail("copy to a private file: create the target", from, to, error);
  }
  char buffer[64 * 1024];
  DWORD error = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (!writeAll(out, buffer, got)) {
      error = GetLastError();
      break;
    }
  }
  if (error == 0 && !FlushFileBuffers(out)) error = GetLastError();
  CloseHandle(in);
  if (!CloseHandle(out) && error == 0) error = GetLastError();
  if (error != 0) {
    DeleteFileW(to.c_str());
    fail("copy to a private file", from, to, error);
  }
}

bool keepPrivate(const std::filesystem::path& path) {
  OwnerOnly owner;
  if (!owner.valid()) return false;
  // A new file gets its owner-only list from its creation on; an existing
  // one has its list replaced.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            owner.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  if (GetLastError() != ERROR_FILE_EXISTS) return false;
  return owner.applyTo(path);
}

bool narrowIfExists(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  OwnerOnly owner;
  return owner.applyTo(path);
}

void makePrivateFolder(const std::filesystem::path& folder) {
  OwnerOnly owner;
  if (!owner.valid()) fail("make a private folder: the current user", folder, {}, GetLastError());
  if (!CreateDirectoryW(folder.c_str(), owner.attributes())) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) fail("make a private folder", folder, {}, error);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    // A junction or link could lead anywhere: only a plain folder is taken.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      fail("make a private folder", folder, {}, ERROR_DIRECTORY);
    }
    if (!owner.applyTo(folder)) fail("make a private folder", folder, {}, GetLastError());
  }
}

void writePrivateFile(const std::filesystem::path& path, std::string_view content) {
  OwnerOnly owner;
  if (!owner.valid()) fail("write a private file: the current user", path, {}, GetLastError());
  std::filesystem::path temporary = path;
  temporary += L".new-" + std::to_wstring(GetCurrentProcessId());
  DeleteFileW(temporary.c_str());  // left over from a crash
  HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, owner.attributes(), CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) fail("write a private file", path, {}, GetLastError());
  DWORD error = 0;
  if (!writeAll(out, content.data(), static_cast<DWORD>(content.size()))) error = GetLastError();
  if (!CloseHandle(out) && error == 0) error = GetLastError();
  if (error == 0 && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) error = GetLastError();
  if (error != 0) {
    DeleteFileW(temporary.c_str());
    fail("write a private file", path, {}, error);
  }
}

// Files inherit their access list from their folder; what the process
// creates in a folder without inheritable entries gets the token's default
// list, which is made owner-only here.
void restrictNewFiles() {
  OwnerOnly owner;  // the token keeps a copy of the list
  if (!owner.valid()) return;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token)) return;
  TOKEN_DEFAULT_DACL defaultDacl{owner.acl()};
  SetTokenInformation(token, TokenDefaultDacl, &defaultDacl, sizeof defaultDacl);
  CloseHandle(token);
}

}  // namespace Quorvel::port

// Files only the seller's own account may read: the database, its journals
// and the marketplace cookie file hold passwords and cards. They are created
// with owner-only permissions from the start (never widened, then narrowed),
// and an existing file that others can read is narrowed.
//
// Any thread; each call works on the path it is given.
#pragma once

#include <filesystem>
#include <string_view>

namespace Quorvel::port {

// Copies `from` to a new file `to`, readable and writable by the owner only
// from its creation. Fails, changing nothing, when `to` exists. Raises
// std::filesystem::filesystem_error (a partial copy is removed).
void copyToPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Creates `path` empty and owner-only when it does not exist, and narrows
// its permissions to the owner's read and write when others may read or
// write it. Returns false when the file could not be created or narrowed.
bool keepPrivate(const std::filesystem::path& path);

// Narrows an existing file as keepPrivate does; a missing file is left
// missing. Returns false only when an existing file could not be narrowed.
bool narrowIfExists(const std::filesystem::path& path);

// Makes `folder` a folder only the owner may enter: creates it owner-only,
// or narrows an existing one. Raises std::filesystem::filesystem_error when
// it cannot, or when `folder` is a symbolic link or not a folder.
void makePrivateFolder(const std::filesystem::path& folder);

// Writes `content` to `path` as a file readable and writable by the owner
// only: a new file is written beside it and renamed over `path`, so a reader
// never sees half of it and a link planted at `path` is replaced, never
// followed. Raises std::filesystem::filesystem_error (nothing is left
// behind).
void writePrivateFile(const std::filesystem::path& path, std::string_view content);

// Files the process creates from now on without naming their permissions
// (SQLite's journals, a crash report) are owner-only. Call once at start.
void restrictNewFiles();

}  // namespace Quorvel::port

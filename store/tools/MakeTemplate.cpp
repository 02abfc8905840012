// Build step: turns the schema file into the database template.
//
//   quorvel_make_template <schema.sql> <template.db>
//
// The template is written beside its final name and renamed into place, so
// an interrupted build never leaves a half-made template behind.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int fail(const std::string& what, const std::string& detail) {
  std::fprintf(stderr, "quorvel_make_template: %s: %s\n", what.c_str(), detail.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <schema.sql> <template.db>\n", argv[0]);
    return 2;
  }
  std::ifstream schemaFile(argv[1], std::ios::binary);
  if (!schemaFile) return fail(argv[1], "cannot be read");
  std::ostringstream schema;
  schema << schemaFile.rdbuf();

  fs::path target = argv[2];
  fs::path partial = target;
  partial += ".partial";
  std::error_code error;
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
  fs::remove(partial, error);

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(partial.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return fail(partial.string(), message);
  }
  std::string script = "begin transaction;\n" + schema.str() + "\ncommit transaction;";
  char* message = nullptr;
  rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    sqlite3_close(db);
    fs::remove(partial, error);
    return fail(argv[1], text);
  }
  sqlite3_close(db);
  fs::rename(partial, target, error);
  if (error) return fail(target.string(), error.message());
  return 0;
}

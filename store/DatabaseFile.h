// Where the program's database and its template live, and the start-up rule
// that creates the live database from the template.
//
// The paths are process-wide. The program keeps the defaults ("vendara2012.db"
// and "tpl/vendara2012.db", relative to the working directory); tests point
// them into their own folders before any connection opens. Any thread may
// read them; set them before connections are opened.
#pragma once

#include <string>

namespace Quorvel {

void setDatabasePath(const std::string& path);
std::string databasePath();

void setTemplatePath(const std::string& path);
std::string templatePath();

// Run once at start-up, before anything touches the database: when the live
// database is missing, copies the template to it and returns true. An
// existing database is never replaced (returns false). A failed copy raises
// std::filesystem::filesystem_error.
bool prepareDatabaseFile();

}  // namespace Quorvel

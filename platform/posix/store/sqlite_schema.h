// The tables of the SQLite store as this version lays them out. Stores made
// by earlier versions are converted by the first process that may write
// them (sqlite_schema_upgrade.cc).
#pragma once

namespace orvik::posix {

// Version 1: values in a rowid table with an index by name and one by key.
// Version 2: a key's values stored together, in order of their key and name.
// Version 3: the same tables, names folded by Windows' own upper-case table
// (FoldName) where version 2 folded them by the C library's.
constexpr int kSchemaVersion = 3;

// Keys: the id is the rowid, never reused. Rows may carry negative ids and
// parents (keys of a tree kept elsewhere), so no code takes them as positive.
constexpr const char* kKeysSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused
  parent INTEGER NOT NULL,               -- 0 for the roots
  folded BLOB NOT NULL,                  -- upper-cased name, UTF-16BE: sorts by code unit
  name BLOB NOT NULL,                    -- name as given, UTF-16LE
  name_ansi INTEGER NOT NULL,            -- length of the name's ANSI form
  class BLOB,                            -- class name, UTF-16LE; NULL for none
  class_ansi INTEGER NOT NULL,
  security BLOB,                         -- security descriptor
  last_write INTEGER NOT NULL);          -- FILETIME, 100 ns since 1601
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, folded);
)sql";

// Values: the table is its own index by (key, folded name), so one key's
// values lie side by side on a few pages, and a value is found by name in
// one lookup. The id is unique in the store and gives the creation order;
// the index on it finds a value's data by id and the next id.
constexpr const char* kValsSchema = R"sql(
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  folded BLOB NOT NULL,                  -- upper-cased name, UTF-16BE
  id INTEGER NOT NULL,                   -- creation order, unique and positive
  name BLOB NOT NULL,                    -- name as given, UTF-16LE
  name_ansi INTEGER NOT NULL,
  type INTEGER NOT NULL,
  fit_size INTEGER NOT NULL,             -- larger of stored and ANSI size
  data BLOB NOT NULL,                    -- last, so that the fields before it
  PRIMARY KEY(key, folded)) WITHOUT ROWID;  -- are read without it
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_id ON vals(id);
)sql";

// The loaded hives (RegLoadKeyA): which hive file is loaded under which key,
// and the marks of a served hive's keys that were removed. Stores of version
// 2 made before hives could be loaded lack them until their first load.
constexpr const char* kLoadedHivesSchema = R"sql(
CREATE TABLE IF NOT EXISTS loaded_hives(
  generation INTEGER PRIMARY KEY AUTOINCREMENT,  -- names the hive's key ids; never reused
  key INTEGER NOT NULL UNIQUE,           -- the key the hive is loaded under
  file BLOB NOT NULL,                    -- absolute path of the hive file
  device INTEGER NOT NULL,               -- the file's identity, so that it
  inode INTEGER NOT NULL,                -- is loaded once at most
  root_name BLOB NOT NULL,               -- the file's root key name, UTF-16LE
  copy BLOB NOT NULL,                    -- the private copy the hive is read from
  file_size INTEGER,                     -- the file as LOAD found it: its size and
  file_changed INTEGER,                  -- its last status change (ns); NULL: unknown
  copy_pages BLOB);                      -- pages of the bins where the copy differs
                                         -- from the file (32-bit numbers)
CREATE INDEX IF NOT EXISTS loaded_hives_by_file ON loaded_hives(device, inode);
CREATE TABLE IF NOT EXISTS removed_hive_keys(
  id INTEGER PRIMARY KEY,                -- a key of a loaded hive that was removed
  parent INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS removed_hive_keys_by_parent ON removed_hive_keys(parent);
)sql";

// The columns that tell what LOAD found of the file and made of its copy,
// for a table of loaded hives made before them; their records keep NULL.
constexpr const char* kLoadStateColumns = R"sql(
ALTER TABLE loaded_hives ADD COLUMN file_size INTEGER;
ALTER TABLE loaded_hives ADD COLUMN file_changed INTEGER;
ALTER TABLE loaded_hives ADD COLUMN copy_pages BLOB;
)sql";

// Hives an earlier version loaded by copying their trees into rows keep
// their records in a table this version reads and empties but never makes:
//   hives(key INTEGER PRIMARY KEY, file BLOB, device INTEGER, inode INTEGER,
//         root_name BLOB, digest BLOB)

}  // namespace orvik::posix

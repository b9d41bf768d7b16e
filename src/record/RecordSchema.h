#pragma once

#include <QString>

class SqliteDb;

// The version of the record's tables (PRAGMA user_version); a file of an older version is
// migrated when opened, one of a newer version refused.
inline constexpr int kRecordSchemaVersion = 1;
// PRAGMA application_id of a record file.
inline constexpr int kRecordApplicationId = 0x4F52564F;

// Makes the connection's file a provisioning record of the current version: WAL mode, and the
// tables and views created (an empty file) or migrated (an older record). False with the
// reason when the file is no database, another program's database or a newer record, or when
// it cannot be written.
bool PrepareRecordSchema(SqliteDb& db, QString* reason);

// Makes the phones table anew from the events (after events were removed).
bool RebuildRecordPhones(SqliteDb& db);

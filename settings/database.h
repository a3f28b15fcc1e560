#pragma once

#include <QSqlError>
#include <QString>

// Path of the settings database "korvexdb" in the user's data directory (created if missing).
QString defaultDatabasePath();

// Opens the settings database as the default connection with foreign keys on, creating the schema
// and the factory rows on first start. Returns the error of the failed step, or an empty error.
QSqlError initDatabase();
QSqlError initDatabase(const QString &fileName);

#pragma once

#include "settings/database.h"
#include "settings/machine_settings.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

// The factory database is made once per test program and every test opens a copy of its own as the default
// connection: copying is much quicker than creating the tables anew.
class FactoryDatabase
{
public:
    bool create() { return m_dir.isValid() && !initDatabase(m_dir.filePath(QStringLiteral("factory"))).isValid(); }

    // Opening a copy is a later start: it reports that the tables exist already.
    bool openCopy()
    {
        const QString copy = m_dir.filePath(QStringLiteral("db%1").arg(++m_copies));
        return QFile::copy(m_dir.filePath(QStringLiteral("factory")), copy) && initDatabase(copy).isValid();
    }

private:
    QTemporaryDir m_dir;
    int m_copies = 0;
};

inline bool execSql(const QString &sql)
{
    QSqlQuery query;
    return query.exec(sql);
}

// The first value of the first row; invalid when there is no row.
inline QVariant scalar(const QString &sql)
{
    QSqlQuery query(sql);
    return query.next() ? query.value(0) : QVariant();
}

inline QVariant storedInCurrentProfile(const QString &column)
{
    return scalar(QStringLiteral("SELECT %1 FROM maschine_settings WHERE machine_name = 'current'").arg(column));
}

// "v_110=500" for every setting field that shows text, "s_110 SAVED" for every marked status label.
inline QStringList shownSettings(const Machine_Settings &page)
{
    QStringList shown;
    for (const QLineEdit *field : page.findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^v_\\d+$"))))
        shown << field->objectName() + QLatin1Char('=') + field->text();
    for (const QLabel *label : page.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^s_\\d+$"))))
        shown << label->objectName() + QLatin1Char(' ') + label->text();
    shown = shown.filter(QRegularExpression(QStringLiteral("^\\w+[= ]."))); // empty ones show nothing
    shown.sort();
    return shown;
}

// The visible warning boxes as "title: text".
inline QStringList warnings(const Machine_Settings &page)
{
    QStringList shown;
    for (const QMessageBox *box : page.findChildren<QMessageBox *>()) {
        if (box->isVisible())
            shown << box->windowTitle() + QLatin1String(": ") + box->text();
    }
    return shown;
}

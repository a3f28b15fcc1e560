#pragma once

#include <QStringList>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

#include "toolpath/gcodeprogram.h"

// A program as the G-code mode holds it, read from a file of these lines.
inline std::shared_ptr<const GcodeProgram> programOf(const QStringList &lines)
{
    QTemporaryFile file;
    if (!file.open())
        return nullptr;
    file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    file.close();
    QString error;
    auto program = std::make_shared<const GcodeProgram>(GcodeProgram::read(file.fileName(), &error));
    return error.isEmpty() ? program : nullptr;
}

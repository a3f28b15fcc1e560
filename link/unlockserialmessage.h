#pragma once

#include "link/serialmessage.h"

// The start-up line that either homes the machine or only clears the alarm lock. Its answer tells the
// connection whether the calibration moves may follow.
class UnlockSerialMessage : public SerialMessage
{
    Q_OBJECT
public:
    // Homing ("$H") until told otherwise.
    explicit UnlockSerialMessage(QObject *parent = nullptr);

    // true: "$X" (clear the lock without moving); false: "$H" (run the homing cycle).
    void setUnlockOnly(bool unlockOnly);

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void answered(bool ok);
};

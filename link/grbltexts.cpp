#include "link/grbltexts.h"

QString GrblTexts::alarmText(int number)
{
    return lookUp(alarmTexts(), number);
}

QString GrblTexts::errorText(int number)
{
    return lookUp(errorTexts(), number);
}

QString GrblTexts::lookUp(const QStringList &texts, int number)
{
    if (number >= 0 && number < texts.size())
        return texts.at(number);
    return QString::number(number);
}

const QStringList &GrblTexts::alarmTexts()
{
    static const QStringList texts = {
        QStringLiteral("no alarm"),
        QStringLiteral("Hard limit triggered. Machine position is likely lost due to sudden and immediate halt. Re-homing is highly recommended."),
        QStringLiteral("G-code motion target exceeds machine travel. Machine position safely retained. Alarm may be unlocked."),
        QStringLiteral("Reset while in motion. Grbl cannot guarantee position. Lost steps are likely. Re-homing is highly recommended."),
        QStringLiteral("Probe fail. The probe is not in the expected initial state before starting probe cycle; where G38.2 and G38.3 is not triggered and G38.4 and G38.5 is triggered."),
        QStringLiteral("Probe fail. Probe did not contact the workpiece within the programmed travel for G38.2 and G38.4."),
        QStringLiteral("Homing fail. Reset during active homing cycle."),
        QStringLiteral("Homing fail. Safety door was opened during active homing cycle."),
        QStringLiteral("Homing fail. Cycle failed to clear limit switch when pulling off. Try increasing pull-off setting or check wiring."),
        QStringLiteral("Homing fail. Could not find limit switch within search distance. Defined as 1.5 * max_travel on search and 5 * pulloff on locate phases."),
    };
    return texts;
}

const QStringList &GrblTexts::errorTexts()
{
    static const QStringList texts = {
        QStringLiteral("no error"),
        QStringLiteral("G-code words consist of a letter and a value. Letter was not found."),
        QStringLiteral("Numeric value format is not valid or missing an expected value."),
        QStringLiteral("Grbl '$' system command was not recognized or supported."),
        QStringLiteral("Negative value received for an expected positive value."),
        QStringLiteral("Homing cycle is not enabled via settings."),
        QStringLiteral("Minimum step pulse time must be greater than 3usec"),
        QStringLiteral("EEPROM read failed. Reset and restored to default values."),
        QStringLiteral("Grbl '$' command cannot be used unless Grbl is IDLE. Ensures smooth operation during a job."),
        QStringLiteral("G-code locked out during alarm or jog state"),
        QStringLiteral("Soft limits cannot be enabled without homing also enabled."),
        QStringLiteral("Max characters per line exceeded. Line was not processed and executed."),
        QStringLiteral("(Compile Option) Grbl '$' setting value exceeds the maximum step rate supported."),
        QStringLiteral("Safety door detected as opened and door state initiated."),
        QStringLiteral("(Grbl-Mega Only) Build info or startup line exceeded EEPROM line length limit."),
        QStringLiteral("Jog target exceeds machine travel. Command ignored."),
        QStringLiteral("Jog command with no '=' or contains prohibited g-code."),
        QStringLiteral("Laser mode requires PWM output."),
        QStringLiteral("Not Error for this number"),
        QStringLiteral("Not Error for this number"),
        QStringLiteral("Unsupported or invalid g-code command found in block."),
        QStringLiteral("More than one g-code command from same modal group found in block."),
        QStringLiteral("Feed rate has not yet been set or is undefined."),
        QStringLiteral("G-code command in block requires an integer value."),
        QStringLiteral("Two G-code commands that both require the use of the XYZ axis words were detected in the block."),
        QStringLiteral("A G-code word was repeated in the block."),
        QStringLiteral("A G-code command implicitly or explicitly requires XYZ axis words in the block; but none were detected."),
        QStringLiteral("N line number value is not within the valid range of 1 - 9;999;999."),
        QStringLiteral("A G-code command was sent; but is missing some required P or L value words in the line."),
        QStringLiteral("Grbl supports six work coordinate systems G54-G59. G59.1; G59.2; and G59.3 are not supported."),
        QStringLiteral("The G53 G-code command requires either a G0 seek or G1 feed motion mode to be active. A different motion was active."),
        QStringLiteral("There are unused axis words in the block and G80 motion mode cancel is active."),
        QStringLiteral("A G2 or G3 arc was commanded but there are no XYZ axis words in the selected plane to trace the arc."),
        QStringLiteral("The motion command has an invalid target. G2; G3; and G38.2 generates this error; if the arc is impossible to generate or if the probe target is the current position."),
        QStringLiteral("A G2 or G3 arc; traced with the radius definition; had a mathematical error when computing the arc geometry. Try either breaking up the arc into semi-circles or quadrants; or redefine them with the arc offset definition."),
        QStringLiteral("A G2 or G3 arc; traced with the offset definition; is missing the IJK offset word in the selected plane to trace the arc."),
        QStringLiteral("There are unused; leftover G-code words that aren't used by any command in the block."),
        QStringLiteral("The G43.1 dynamic tool length offset command cannot apply an offset to an axis other than its configured axis. The Grbl default axis is the Z-axis."),
        QStringLiteral("An invalid tool number sent to the parser"),
    };
    return texts;
}

#ifndef GERBERFILE_H
#define GERBERFILE_H

#include <QString>

#include <gerbv.h>

// A Gerber or Excellon text parsed by gerbv. gerbv reads files only, so the text goes through a
// private temporary file. Coordinates of the image are in inches whatever the file used.
class GerberFile
{
public:
    explicit GerberFile(const QString &text);
    ~GerberFile();
    GerberFile(const GerberFile &) = delete;
    GerberFile &operator=(const GerberFile &) = delete;

    // Null when gerbv could not make sense of the text.
    const gerbv_image_t *image() const { return parsed; }

    static constexpr double mmPerInch = 25.4;

private:
    gerbv_project_t *project = nullptr;
    const gerbv_image_t *parsed = nullptr;
};

#endif

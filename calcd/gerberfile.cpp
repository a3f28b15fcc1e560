#include "calcd/gerberfile.h"

#include <QTemporaryFile>

GerberFile::GerberFile(const QString &text)
{
    QTemporaryFile file;
    if (!file.open() || file.write(text.toUtf8()) < 0 || !file.flush())
        return;
    project = gerbv_create_project();
    QByteArray name = file.fileName().toLocal8Bit();
    gerbv_open_layer_from_filename(project, name.data());
    if (project->last_loaded >= 0 && project->file[0] && project->file[0]->image)
        parsed = project->file[0]->image;
}

GerberFile::~GerberFile()
{
    if (project)
        gerbv_destroy_project(project);
}

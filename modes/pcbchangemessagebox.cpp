#include "modes/pcbchangemessagebox.h"

#include <QImageReader>
#include <QPixmap>

#include "ui_pcbchangemessagebox.h"

namespace {
QString pictureOf(int type)
{
    switch (type) {
    case PCBChangeMessageBox::Engraving:
        return QStringLiteral(":/Images/Resources/engraving.png");
    case PCBChangeMessageBox::Outline:
        return QStringLiteral(":/Images/Resources/outline.png");
    case PCBChangeMessageBox::Drill:
        return QStringLiteral(":/Images/Resources/drill.png");
    default:
        return QString();
    }
}
}

PCBChangeMessageBox::PCBChangeMessageBox(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PCBChangeMessageBox)
{
    ui->setupUi(this);
}

PCBChangeMessageBox::~PCBChangeMessageBox() = default;

void PCBChangeMessageBox::fill(int type, const QString &text)
{
    const QString picture = pictureOf(type);
    if (picture.isEmpty()) {
        ui->pixmap->clear();
    } else {
        // Drawn at the label's height rather than scaled afterwards, so a vector picture stays sharp.
        QImageReader reader(picture);
        const QSize size = reader.size();
        const int height = ui->pixmap->height();
        if (size.height() > 0)
            reader.setScaledSize(QSize(size.width() * height / size.height(), height));
        ui->pixmap->setPixmap(QPixmap::fromImage(reader.read()));
    }
    ui->pixmap->setAlignment(Qt::AlignCenter);
    setWindowTitle(QStringLiteral("Change milling cutter"));
    ui->ChangeToolInfo->setText(text);
}

void PCBChangeMessageBox::on_pushButton_clicked()
{
    close();
}

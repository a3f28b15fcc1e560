#include <QApplication>

#include "app/mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Names the user's data directory, where the settings database lives.
    QApplication::setApplicationName(QStringLiteral("Korvex"));
    MainWindow window;
    window.show();
    return application.exec();
}

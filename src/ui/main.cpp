#include "Hooks.h"
#include "KestrelonApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    SetDefaultOpenGLFormat();
    QApplication qapp(argc, argv);
    RestoreCLocale();
    InstallQtMessageBoxes();

    CKestrelonApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    const int status = QApplication::exec();
    app.ExitInstance();
    return status;
}

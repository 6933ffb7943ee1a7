#include "Application.h"
#include "Form1.h"
#include "QtFormServices.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tromel::gui::configureApplication(app);
    tromel::gui::QtFormServices services;
    tromel::gui::Form1 form(services);
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}

#include "Application.h"
#include "Form1.h"
#include "QtFormServices.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const std::unique_ptr<QApplication> app = tromel::gui::createApplication(argc, argv);
    tromel::gui::QtFormServices services;
    tromel::gui::Form1 form(services);
    if (!form.Form_Load())
        return 1;
    // A file named on the command line, as the desktop's "Open with" passes it, is preselected.
    if (const std::string cfg = tromel::gui::commandLineFile(argc, argv); !cfg.empty())
        form.openConfig(cfg);
    form.show();
    return QApplication::exec();
}

#include "gui/mainform.h"
#include "programs/programs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setFont(TmainForm::programFont());
    TmainForm::installQtTranslations(app);
    // The data-link files lie beside the program.
    TmainForm mainForm(programs::catalog(), shell::Family::V67, QCoreApplication::applicationDirPath());
    mainForm.show();
    return app.exec();
}

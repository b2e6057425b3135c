#include "gui/mainform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setFont(TmainForm::programFont());
    // The data-link files lie beside the program.
    TmainForm mainForm(shell::Family::V67, QCoreApplication::applicationDirPath());
    mainForm.show();
    return app.exec();
}

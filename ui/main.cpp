// zenfo: the window program. Shows the main window and handles its events until it is closed.
#include <QApplication>
#include <clocale>

#include "ui/application.h"
#include "ui/unit1.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    zenfo::ui::PrepareEnvironment();
    QApplication app(argc, argv);
    zenfo::ui::SetUpApplication(app);
    zenfo::ui::TForm1 form;
    form.show();
    app.exec();
    return 0;
}

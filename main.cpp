#include "browser/frmTarvex.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));
    QApplication::setOrganizationName(QStringLiteral("Tarvex"));
    QApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION_STRING));
    QApplication::setQuitOnLastWindowClosed(false);

    tarvex::frmTarvex window;
    window.Form_Load();
    return app.exec();
}

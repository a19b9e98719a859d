#include "app/mainform.h"
#include "app/r9_update.h"

#include <QDebug>
#include <QFileDialog>
#include <QLineEdit>

void R9_update::on_actionCartella_triggered()
{
    qDebug() << "ciao";
    const QString folder = QFileDialog::getExistingDirectory(nullptr, QString(), QString(),
                                                             QFileDialog::ShowDirsOnly);
    form->localpath->setText(folder);
}

#include "ui/question_box.h"

#include <QMessageBox>
#include <QPushButton>

#include "base/build_constants.h"

namespace talvoro {

bool askUser(const QString& question, const QString& yes, const QString& no) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(appDisplayName), question);
    QPushButton* accept = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(accept);
    box.exec();
    return box.clickedButton() == accept;
}

} // namespace talvoro

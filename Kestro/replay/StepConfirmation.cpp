#include "Kestro/replay/StepConfirmation.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace kestro {

std::unique_ptr<QMessageBox> makeStepConfirmationBox(const std::string& intent, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("Confirm this step?"));
    box->setInformativeText(
        QString::fromStdString(intent) +
        QStringLiteral(
            "\n\nThis looks like it could submit, send, delete, or overwrite something."));
    // The informative text is a label of its own, which would guess at rich text by itself.
    for (auto* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    QPushButton* proceed = box->addButton(QStringLiteral("Proceed"), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(proceed);
    box->setEscapeButton(cancel);
    return box;
}

bool MessageBoxConfirmer::confirm(const std::string& intent) {
    auto box = makeStepConfirmationBox(intent);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
    return box->clickedButton() && box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

} // namespace kestro

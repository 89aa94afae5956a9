#pragma once

#include <memory>
#include <string>

class QMessageBox;
class QWidget;

namespace kestro {

// Asks the user whether a step that may submit, send, delete or overwrite something should be
// performed. Main thread; may run a nested event loop while it waits for the answer.
class StepConfirmer {
public:
    virtual ~StepConfirmer() = default;
    // True only when the user chose to proceed.
    virtual bool confirm(const std::string& intent) = 0;
};

// The question as a warning message box: "Proceed" first, "Cancel" second and taken by Escape.
// The intent comes from a model's draft, so the box shows it as plain text only.
std::unique_ptr<QMessageBox> makeStepConfirmationBox(const std::string& intent,
                                                     QWidget* parent = nullptr);

// Shows that message box modally, brought to the front of every application.
class MessageBoxConfirmer final : public StepConfirmer {
public:
    bool confirm(const std::string& intent) override;
};

} // namespace kestro

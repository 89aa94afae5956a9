#include "Kestro/mainwindow/SkillEditor.h"

#include "Kestro/ui/Style.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro {

using namespace Style;

SkillEditor::SkillEditor(const QString& title, const QString& text, const QString& problem,
                         QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    setFixedSize(580, 480);
    fillWhite(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 14, 14, 14);
    header->setSpacing(10);
    auto* heading = plainLabel(title, this);
    heading->setFont(monospaced(11, QFont::DemiBold));
    header->addWidget(heading);
    header->addStretch();
    auto* cancel = new QPushButton("Cancel", this);
    save_ = new QPushButton("Save", this);
    makeProminent(save_, black);
    save_->setDefault(false);
    header->addWidget(cancel);
    header->addWidget(save_);
    layout->addLayout(header);

    if (!problem.isEmpty()) {
        auto* why = plainLabel(problem, this);
        why->setWordWrap(true);
        why->setContentsMargins(14, 0, 14, 10);
        QPalette wp = why->palette();
        wp.setColor(QPalette::WindowText, red);
        why->setPalette(wp);
        layout->addWidget(why);
        save_->setEnabled(false);
    }
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    layout->addWidget(divider);

    editor_ = new QPlainTextEdit(this);
    editor_->setPlainText(text);
    QFont editorFont = monospaced(10);
    editorFont.setPixelSize(12);
    editor_->setFont(editorFont);
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->setReadOnly(!problem.isEmpty());
    auto* editorBox = new QVBoxLayout;
    editorBox->setContentsMargins(10, 10, 10, 10);
    editorBox->addWidget(editor_);
    layout->addLayout(editorBox, 1);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save_, &QPushButton::clicked, this, &QDialog::accept);
}

void SkillEditor::keyPressEvent(QKeyEvent* event) {
    // Ctrl+S reaches here from whichever part has focus; the text field does not take it.
    if (event->matches(QKeySequence::Save)) {
        if (save_->isEnabled()) {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

QString SkillEditor::text() const {
    return editor_->toPlainText();
}

} // namespace kestro

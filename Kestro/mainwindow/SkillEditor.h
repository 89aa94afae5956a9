#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace kestro {

// The SKILL.md editor: Ctrl+S or Save writes, Cancel writes nothing. When the file could not be
// read it opens empty and read-only, and says why, so nothing the user never saw is replaced.
class SkillEditor final : public QDialog {
    Q_OBJECT
public:
    SkillEditor(const QString& title, const QString& text, const QString& problem,
                QWidget* parent = nullptr);

    QString text() const;
    QPlainTextEdit& editor() { return *editor_; }
    QPushButton& saveButton() { return *save_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPlainTextEdit* editor_ = nullptr;
    QPushButton* save_ = nullptr;
};

} // namespace kestro

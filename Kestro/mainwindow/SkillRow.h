#pragma once

#include "Kestro/mainwindow/SkillListModel.h"
#include "KestroBase/Uuid.h"

#include <QStyledItemDelegate>
#include <QWidget>

class QLabel;
class QToolButton;

namespace kestro {

class MainView;

// Sizes the rows of the skill list; the row widgets on top draw them.
class SkillRowDelegate final : public QStyledItemDelegate {
public:
    explicit SkillRowDelegate(QObject* parent);

    static constexpr int marginX = 12;
    static constexpr int spacing = 2;

    // The row's own rectangle inside its item (which also holds the gap below it).
    static QRect rowRect(const QRect& item) {
        return item.adjusted(marginX, 0, -marginX, -spacing);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override;
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}

private:
    int rowHeight_ = 40;
};

// One line of the skill list: icon, slash command over name, edit, play and a menu with Export
// and Delete. Only the rows on screen have one; scrolling hands a widget on to the next row.
class SkillRowWidget final : public QWidget {
public:
    SkillRowWidget(MainView& owner, QWidget* parent);

    // Shows the row of `index`; texts are measured again only when they change.
    void showRow(const QModelIndex& index);

    const Uuid& id() const { return id_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent*) override;

private:
    void placeTexts();
    void setHover(bool hover);
    void paintControls();

    MainView& owner_;
    Uuid id_;
    QString fullCommand_;
    QString fullName_;
    QString symbol_;
    bool hover_ = false;
    QLabel* icon_ = nullptr;
    QLabel* command_ = nullptr;
    QLabel* name_ = nullptr;
    QToolButton* edit_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* menu_ = nullptr;
    ElidedLines commands_;
    ElidedLines names_;
};

} // namespace kestro

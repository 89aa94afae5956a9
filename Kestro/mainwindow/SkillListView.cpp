#include "Kestro/mainwindow/SkillListView.h"

#include "Kestro/mainwindow/SkillRow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QTimer>

namespace kestro {

namespace {

QAccessibleInterface* skillListAccessible(const QString&, QObject* object) {
    if (auto* list = dynamic_cast<SkillListView*>(object)) {
        return new QAccessibleWidget(list, QAccessible::List);
    }
    return nullptr;
}

} // namespace

SkillListView::SkillListView(MainView& owner, QWidget* parent) : QListView(parent), owner_(owner) {
    // Told as the widgets it holds, the rows on screen, not as a list of painted items.
    static const bool installed = [] {
        QAccessible::installFactory(skillListAccessible);
        return true;
    }();
    (void)installed;
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setViewportMargins(0, 10, 0, 10);
    setStyleSheet(QStringLiteral("QListView { background: transparent; border: none; }"));
}

void SkillListView::setModel(QAbstractItemModel* model) {
    QListView::setModel(model);
    for (auto sig : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(model, sig, this, [this] { scheduleRows(); });
    }
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { scheduleRows(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { scheduleRows(); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                if (last.row() >= shownFirst_ && first.row() <= shownLast_) {
                    scheduleRows();
                }
            });
    scheduleRows();
}

QWidget* SkillListView::rowWidget(const Uuid& id) {
    placeRows();
    for (SkillRowWidget* w : pool_) {
        if (w->isVisible() && w->id() == id) {
            return w;
        }
    }
    return nullptr;
}

void SkillListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    placeRows();
}

void SkillListView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    scheduleRows();
}

void SkillListView::updateGeometries() {
    QListView::updateGeometries();
    scheduleRows();
}

void SkillListView::scheduleRows() {
    if (!scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { placeRows(); });
    }
}

void SkillListView::placeRows() {
    scheduled_ = false;
    QAbstractItemModel* m = model();
    const int rows = m ? m->rowCount() : 0;
    std::size_t used = 0;
    shownFirst_ = 0;
    shownLast_ = -1;
    if (rows > 0) {
        executeDelayedItemsLayout();
        const QModelIndex top = indexAt(QPoint(SkillRowDelegate::marginX + 1, 0));
        const int first = top.isValid() ? top.row() : 0;
        const int height = viewport()->height();
        for (int r = first; r < rows; ++r) {
            const QModelIndex index = m->index(r, 0);
            const QRect item = visualRect(index);
            if (item.top() > height) {
                break;
            }
            if (used == pool_.size()) {
                pool_.push_back(new SkillRowWidget(owner_, viewport()));
            }
            SkillRowWidget* w = pool_[used++];
            w->setGeometry(SkillRowDelegate::rowRect(item));
            w->showRow(index);
            shownLast_ = r;
        }
        shownFirst_ = first;
    }
    for (std::size_t i = used; i < pool_.size(); ++i) {
        pool_[i]->hide();
    }
}

} // namespace kestro

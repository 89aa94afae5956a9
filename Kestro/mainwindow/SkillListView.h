#pragma once

#include "KestroBase/Uuid.h"

#include <QListView>

#include <vector>

namespace kestro {

class MainView;
class SkillRowWidget;

// The main window's skill list: a row widget over each row on screen, handed on as it scrolls,
// so a long list costs what the rows in view cost.
class SkillListView final : public QListView {
public:
    SkillListView(MainView& owner, QWidget* parent);

    void setModel(QAbstractItemModel* model) override;

    // The row widget showing the skill, when its row is on screen.
    QWidget* rowWidget(const Uuid& id);

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

private:
    void scheduleRows();
    void placeRows();

    MainView& owner_;
    std::vector<SkillRowWidget*> pool_;
    bool scheduled_ = false;
    int shownFirst_ = 0;
    int shownLast_ = -1;
};

} // namespace kestro

#include "Kestro/mainwindow/MainView.h"
#include "Kestro/mainwindow/MainViewModel.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/palette/PaletteModel.h"
#include "Kestro/text/SkillIcon.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/QtTestApp.h"

#include <QAbstractItemView>
#include <QFontMetricsF>
#include <QLabel>
#include <QPersistentModelIndex>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::testing;

namespace {

Skill named(const std::string& name) {
    Skill s;
    s.name = name;
    return s;
}

std::vector<std::string> shownNames(const SkillListModel& m) {
    std::vector<std::string> names;
    for (int i = 0; i < m.rowCount(); ++i) {
        names.push_back(m.index(i, 0).data(Qt::DisplayRole).toString().toStdString());
    }
    return names;
}

struct Signals {
    int resets = 0;
    int structure = 0; // rows inserted, removed or laid out anew
    std::vector<int> changedRows;
};

void watch(SkillListModel& m, Signals* s) {
    QObject::connect(&m, &QAbstractItemModel::modelReset, [s] { ++s->resets; });
    for (auto sig : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        QObject::connect(&m, sig, [s] { ++s->structure; });
    }
    QObject::connect(&m, &QAbstractItemModel::layoutChanged, [s] { ++s->structure; });
    QObject::connect(
        &m, &QAbstractItemModel::dataChanged,
        [s](const QModelIndex& a, const QModelIndex&) { s->changedRows.push_back(a.row()); });
}

} // namespace

// A reload changes the model in place by id: rows of the skills that stay keep their persistent
// indices (so an open editor's or the view's hold on them survives), the order is the new list's,
// and only what changed is announced.
TEST(SkillListModel, AReloadKeepsIdsOrderAndPersistentRows) {
    const std::vector<Skill> base = {named("A"), named("B"), named("C"), named("D")};
    auto pick = [&base](std::initializer_list<int> order) {
        std::vector<Skill> out;
        for (int i : order) {
            out.push_back(base[static_cast<std::size_t>(i)]);
        }
        return out;
    };
    Skill renamed = base[1];
    renamed.name = "B renamed";
    struct Case {
        const char* what;
        std::vector<Skill> next;
        std::vector<std::string> expected;
        bool structural;
    };
    const std::vector<Case> cases = {
        {"the same list again", base, {"A", "B", "C", "D"}, false},
        {"a new skill first",
         [&] {
             auto v = base;
             v.insert(v.begin(), named("New"));
             return v;
         }(),
         {"New", "A", "B", "C", "D"},
         true},
        {"one deleted", pick({0, 2, 3}), {"A", "C", "D"}, true},
        {"reordered", pick({3, 0, 1, 2}), {"D", "A", "B", "C"}, true},
        {"one renamed", {base[0], renamed, base[2], base[3]}, {"A", "B renamed", "C", "D"}, false},
        {"deleted, added and swapped",
         [&] {
             auto v = pick({1, 3, 2});
             v.push_back(named("E"));
             return v;
         }(),
         {"B", "D", "C", "E"},
         true},
        {"all gone", {}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SkillListModel m;
        m.setSkillData(SkillListData::make(base));
        std::map<Uuid, QPersistentModelIndex> held;
        for (const Skill& s : base) {
            held[s.id] = QPersistentModelIndex(m.indexOf(s.id));
        }
        Signals seen;
        watch(m, &seen);
        m.setSkillData(SkillListData::make(c.next));
        EXPECT_EQ(shownNames(m), c.expected);
        EXPECT_EQ(seen.resets, 0);
        EXPECT_EQ(seen.structure > 0, c.structural);
        for (std::size_t i = 0; i < c.next.size(); ++i) {
            EXPECT_EQ(m.idAt(static_cast<int>(i)), c.next[i].id);
            if (auto it = held.find(c.next[i].id); it != held.end()) {
                EXPECT_EQ(it->second.row(), static_cast<int>(i));
            }
        }
        if (std::string(c.what) == "the same list again") {
            EXPECT_TRUE(seen.changedRows.empty());
        }
        if (std::string(c.what) == "one renamed") {
            EXPECT_EQ(seen.changedRows, std::vector<int>{1});
        }
    }
}

// Everything the views derive reads a bounded prefix: a huge text costs what a short one does,
// and nothing is cut inside a character.
// An id listed twice, whatever its place, gets the one row of its first entry: the model never
// reaches past its rows, and the list it shows is the one it is given without the repeats.
TEST(SkillListModel, AnIdListedTwiceGetsOneRow) {
    const Skill a = named("A"), b = named("B"), c = named("C");
    Skill b2 = b;
    b2.name = "B again";
    Skill c2 = c;
    c2.name = "C again";
    struct Case {
        const char* what;
        std::vector<Skill> first;
        std::vector<Skill> next;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a staying skill listed twice", {a, b}, {a, b, b2}, {"A", "B"}},
        {"a staying skill listed twice, first at the end", {a, b}, {b2, a, b}, {"B again", "A"}},
        {"a new skill listed twice", {a}, {a, c, c2}, {"A", "C"}},
        {"a new skill listed twice around a staying one", {a}, {c, a, c2}, {"C", "A"}},
        {"every skill listed twice", {a, b}, {c, b2, c2, a, b, a}, {"C", "B again", "A"}},
        {"repeats from the start", {}, {a, a, b, a}, {"A", "B"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SkillListModel m;
        m.setSkillData(SkillListData::make(k.first));
        m.setSkillData(SkillListData::make(k.next));
        EXPECT_EQ(shownNames(m), k.expected);
        for (int row = 0; row < m.rowCount(); ++row) {
            EXPECT_EQ(m.indexOf(m.idAt(row)).row(), row);
        }
        // And back to a list without repeats.
        m.setSkillData(SkillListData::make(k.first));
        std::vector<std::string> first;
        for (const Skill& s : k.first) {
            first.push_back(s.name);
        }
        EXPECT_EQ(shownNames(m), first);
    }
}

TEST(SkillListData, DerivesFromBoundedPrefixes) {
    Skill huge = named("Sort the inbox");
    huge.summary = std::string(8 << 20, 'x') + " spreadsheet";
    huge.trigger = std::string(SkillListData::textBytes - 1, 'a') + "\u00e9\u00e9";
    const auto data = SkillListData::make(std::vector<Skill>{huge, named("Q&A <b>notes</b>")});
    const auto& e = data->entries()[0];
    EXPECT_EQ(e.symbol, "envelope");
    EXPECT_EQ(e.slashCommand, "/sort-the-inbox");
    // The two-byte character across the bound is left out whole.
    EXPECT_EQ(e.trigger.size(), SkillListData::textBytes - 1);
    // A keyword past the prefix is not read.
    Skill late = named("Plain");
    late.summary = std::string(SkillIcon::fieldPrefixBytes, ' ') + "spreadsheet";
    EXPECT_EQ(SkillIcon::symbol(late), std::string(SkillIcon::fallbackSymbol));
    EXPECT_EQ(data->indexOf(huge.id), 0u);
    EXPECT_EQ(data->indexOf(Uuid::random()), data->size());

    // The palette shares the derived list instead of copying or deriving again.
    PaletteModel palette;
    palette.setSkillData(data);
    EXPECT_EQ(&palette.skills(), &data->skills());
    palette.setQuery("q&a");
    ASSERT_EQ(palette.shownCount(), 1u);
    EXPECT_EQ(palette.shownEntry(0).slashCommand, data->skills()[1].slashCommand());
}

// At the window's minimum width a row with a very long name still shows its three buttons whole,
// inside the list, with the texts cut to the room left of them.
class SkillRowsTest : public AppFixture {
protected:
    SkillRowsTest() {
        qtApp();
        grantAll();
        make();
    }
};

TEST_F(SkillRowsTest, LongNamesLeaveTheButtonsVisibleAtTheMinimumWidth) {
    const std::string longName(100000, 'W');
    Skill s = named(longName);
    SkillStore().save(s);
    SkillStore().save(named("Short"));
    app().reloadSkills();

    MainView view(app());
    view.resize(int(MainViewModel::minimumSize.width), int(MainViewModel::minimumSize.height));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QAbstractItemView& list = view.skillList();
    const QModelIndex index = view.skillModel().indexOf(s.id);
    ASSERT_TRUE(index.isValid());
    const QRect item = list.visualRect(index);
    const int visibleWidth = list.viewport()->width();
    EXPECT_LE(item.right(), visibleWidth);
    const SkillRowLayout l = SkillRowLayout::of(QRectF(item.adjusted(12, 0, -12, -2)));
    for (const QRectF& button : {l.edit, l.play, l.menu}) {
        EXPECT_GE(button.left(), l.texts.right());
        EXPECT_LE(button.right(), visibleWidth);
        EXPECT_GE(button.top(), item.top());
        EXPECT_LE(button.bottom(), item.bottom() + 1);
        EXPECT_EQ(button.width(), SkillRowLayout::buttonSide);
    }
    EXPECT_GT(l.texts.width(), 100);
    EXPECT_LE(l.edit.left() - l.texts.right(), SkillRowLayout::spacing + SkillRowLayout::minSpacer);

    // The row on screen: its buttons inside the list, right of its texts.
    QWidget* rowWidget = view.rowWidget(s.id);
    ASSERT_NE(rowWidget, nullptr);
    const auto buttons = rowWidget->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 3);
    for (QToolButton* b : buttons) {
        const QRect inList(b->mapTo(list.viewport(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(list.viewport()->rect().contains(inList)) << inList.x() << "," << inList.y();
        EXPECT_TRUE(b->isVisibleTo(&view));
    }
    for (QLabel* label : rowWidget->findChildren<QLabel*>()) {
        if (label->pixmap().isNull()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
        EXPECT_LE(label->geometry().right(), buttons[0]->geometry().left());
    }

    // The name, cut with "…" to one line, fits the room the layout gives it.
    ElidedLines lines;
    const QFont font;
    const QString cut = lines.elided(index.data(Qt::DisplayRole).toString(), font, l.texts.width());
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(cut), l.texts.width());
    EXPECT_EQ(&lines.elided(index.data(Qt::DisplayRole).toString(), font, l.texts.width()),
              &lines.elided(index.data(Qt::DisplayRole).toString(), font, l.texts.width()));
}

// Only the rows on screen have widgets; scrolling hands them on, and a state change that leaves
// the skills alone touches none of them.
TEST_F(SkillRowsTest, OnlyTheRowsOnScreenHaveWidgets) {
    std::vector<Skill> stored;
    for (int i = 0; i < 300; ++i) {
        stored.push_back(named("Skill number " + std::to_string(i)));
        SkillStore().save(stored.back());
    }
    app().reloadSkills();
    // A long list is derived on a worker.
    ASSERT_TRUE(runUntil([&] { return app().skillData()->size() == 300; }));
    MainView view(app());
    ASSERT_EQ(view.skillModel().rowCount(), 300);
    view.resize(820, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QAbstractItemView& list = view.skillList();
    QTest::qWait(10);
    auto rowWidgets = [&] {
        int n = 0;
        for (QObject* child : list.viewport()->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            n += w && w->isVisible() && !w->findChildren<QToolButton*>().empty();
        }
        return n;
    };
    const int onScreen = rowWidgets();

    EXPECT_GT(onScreen, 3);
    EXPECT_LT(onScreen, 30);
    const QModelIndex last = view.skillModel().index(299, 0);
    const Uuid lastId = view.skillModel().idAt(299);
    EXPECT_EQ(view.rowWidget(lastId), nullptr);
    list.scrollTo(last);
    QTest::qWait(10);
    QWidget* lastRow = view.rowWidget(lastId);
    ASSERT_NE(lastRow, nullptr);
    EXPECT_LE(rowWidgets(), onScreen + 1);

    const int scroll = list.verticalScrollBar()->value();
    Q_EMIT app().changed();
    QTest::qWait(10);
    EXPECT_EQ(view.rowWidget(lastId), lastRow);
    // A reload that adds a skill keeps the place in the list.
    SkillStore().save(named("Arrived"));
    app().reloadSkills();
    ASSERT_TRUE(runUntil([&] { return view.skillModel().rowCount() == 301; }));
    QTest::qWait(10);
    EXPECT_EQ(list.verticalScrollBar()->value(), scroll);
    (void)last;
}

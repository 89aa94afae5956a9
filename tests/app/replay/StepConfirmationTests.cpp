#include "Kestro/replay/StepConfirmation.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kestro;

namespace {

// One application object for the suite, gone before the process's static objects are.
class StepConfirmation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "kestro-tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }
    static QApplication* app_;
};
QApplication* StepConfirmation::app_ = nullptr;

// Answers the next modal box with `answer` once it is on screen.
void answerNextBox(const std::function<void(QMessageBox&)>& answer) {
    auto* timer = new QTimer(QApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(*box);
        }
    });
    timer->start(10);
}

} // namespace

TEST_F(StepConfirmation, PlainTextQuestionWithProceedFirstAndCancelOnEscape) {
    const std::string intent = "Send <b>all</b> & <img src=x> invoices";
    auto box = makeStepConfirmationBox(intent);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text(), "Confirm this step?");
    EXPECT_EQ(box->informativeText(),
              QString::fromStdString(intent) +
                  "\n\nThis looks like it could submit, send, delete, or overwrite something.");
    // Model output is never read as markup.
    for (auto* label : box->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    ASSERT_EQ(box->buttons().size(), 2);
    auto* proceed = qobject_cast<QPushButton*>(box->defaultButton());
    ASSERT_TRUE(proceed);
    EXPECT_EQ(proceed->text(), "Proceed");
    EXPECT_EQ(box->buttonRole(proceed), QMessageBox::AcceptRole);
    ASSERT_TRUE(box->escapeButton());
    EXPECT_EQ(box->escapeButton()->text(), "Cancel");
    EXPECT_EQ(box->buttonRole(box->escapeButton()), QMessageBox::RejectRole);
}

TEST_F(StepConfirmation, OnlyProceedConfirms) {
    struct Case {
        const char* name;
        std::function<void(QMessageBox&)> answer;
        bool confirmed;
    };
    const Case cases[] = {
        {"Return takes Proceed", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, true},
        {"Escape is Cancel", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, false},
        {"clicking Cancel", [](QMessageBox& b) { b.escapeButton()->click(); }, false},
        {"clicking Proceed", [](QMessageBox& b) { b.defaultButton()->click(); }, true},
        {"the box closed by the window manager", [](QMessageBox& b) { b.close(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answerNextBox(c.answer);
        MessageBoxConfirmer confirmer;
        EXPECT_EQ(confirmer.confirm("Click Submit"), c.confirmed);
    }
}

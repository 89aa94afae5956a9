#pragma once

#include "KestroCore/PermissionsManager.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace kestro {

// The pages that lead through the three permissions: the step of the first one missing, then
// the success page. It follows the permissions manager and nothing else.
class OnboardingView final : public QWidget {
    Q_OBJECT
public:
    OnboardingView(PermissionsManager& permissions, std::function<void()> onDone,
                   QWidget* parent = nullptr);

    // 0-2: the step shown; 3: the success page.
    std::size_t currentIndex() const;
    QLabel& counter() { return *counter_; }
    QLabel& heading() { return *heading_; }
    QPushButton& requestButton() { return *request_; }
    QPushButton& doneButton() { return *done_; }
    bool showsSuccess() const;

    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    PermissionsManager& permissions_;
    std::function<void()> onDone_;
    PermissionsManager::Subscription subscription_;
    QStackedWidget* pages_ = nullptr;
    QLabel* counter_ = nullptr;
    QLabel* heading_ = nullptr;
    QLabel* explanation_ = nullptr;
    QPushButton* request_ = nullptr;
    QPushButton* done_ = nullptr;
};

// The onboarding window: made on demand, hidden by its close button and shown again as it was,
// dropped by Done or with its owner.
class OnboardingWindow {
public:
    OnboardingWindow() = default;
    ~OnboardingWindow();
    OnboardingWindow(const OnboardingWindow&) = delete;
    OnboardingWindow& operator=(const OnboardingWindow&) = delete;

    void show(PermissionsManager& permissions);
    void close();
    // The window while it exists.
    QWidget* window() const;

private:
    QPointer<QWidget> window_;
};

} // namespace kestro

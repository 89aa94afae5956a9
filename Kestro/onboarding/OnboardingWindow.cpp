#include "Kestro/onboarding/OnboardingWindow.h"

#include "Kestro/onboarding/OnboardingModel.h"
#include "Kestro/ui/Brand.h"
#include "Kestro/ui/KeptWindow.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace kestro {

namespace {

using Style::setTextColour;

// The pages' texts stand centred and wrap.
QLabel* plainLabel(const QString& text, QWidget* parent) {
    QLabel* label = Style::plainLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QPushButton* prominentButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setMinimumHeight(36);
    button->setStyleSheet("QPushButton { background: black; color: white; border: none;"
                          " border-radius: 8px; padding: 8px; font-weight: 600; }");
    return button;
}

} // namespace

OnboardingView::OnboardingView(PermissionsManager& permissions, std::function<void()> onDone,
                               QWidget* parent)
    : QWidget(parent), permissions_(permissions), onDone_(std::move(onDone)) {
    setFixedSize(520, 580);
    Style::fillWhite(this);
    setTextColour(this, Qt::black);

    pages_ = new QStackedWidget(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(pages_);

    auto* step = new QWidget(pages_);
    {
        auto* column = new QVBoxLayout(step);
        column->setContentsMargins(40, 0, 40, 40);
        column->setSpacing(0);
        column->addStretch();
        if (const auto& icon = Brand::icon()) {
            auto* image = new QLabel(step);
            image->setAlignment(Qt::AlignCenter);
            image->setPixmap(Style::fittedPixmap(*icon, 76, devicePixelRatioF()));
            column->addWidget(image);
        }
        column->addSpacing(22);
        counter_ = plainLabel({}, step);
        counter_->setFont(Style::scaled(font(), 33, QFont::Bold));
        column->addWidget(counter_);
        column->addSpacing(10);
        heading_ = plainLabel({}, step);
        heading_->setFont(Style::scaled(font(), 14, QFont::Medium));
        setTextColour(heading_, QColor(0, 0, 0, 178));
        column->addWidget(heading_);
        column->addSpacing(14);
        explanation_ = plainLabel({}, step);
        setTextColour(explanation_, QColor(0, 0, 0, 140));
        column->addWidget(explanation_);
        column->addStretch();
        request_ = prominentButton(step);
        column->addWidget(request_);
    }
    auto* success = new QWidget(pages_);
    {
        auto* column = new QVBoxLayout(success);
        column->setContentsMargins(40, 0, 40, 40);
        column->setSpacing(16);
        column->addStretch();
        auto* seal = new QLabel(success);
        seal->setAlignment(Qt::AlignCenter);
        seal->setPixmap(QPixmap::fromImage(
            Symbols::image("checkmark.seal.fill", Symbols::sizeForFont(60), Qt::black,
                           Symbols::Weight::regular, devicePixelRatioF())));
        column->addWidget(seal);
        auto* title = plainLabel(OnboardingModel::successTitle, success);
        title->setFont(Style::scaled(font(), 24, QFont::Bold));
        column->addWidget(title);
        auto* text = plainLabel(QString::fromUtf8(OnboardingModel::successText), success);
        setTextColour(text, QColor(0, 0, 0, 153));
        column->addWidget(text);
        column->addStretch();
        done_ = prominentButton(success);
        done_->setText("Done");
        column->addWidget(done_);
    }
    pages_->addWidget(step);
    pages_->addWidget(success);

    connect(request_, &QPushButton::clicked, this, [this] {
        const std::size_t index = std::min(currentIndex(), allPermissions.size() - 1);
        permissions_.request(allPermissions[index]);
    });
    connect(done_, &QPushButton::clicked, this, [this] {
        if (onDone_) {
            onDone_();
        }
    });
    // The manager tells before it changes; read the new statuses once it has.
    subscription_ = permissions_.observeWillChange(
        [this] { QTimer::singleShot(0, this, [this] { refresh(); }); });
    refresh();
}

std::size_t OnboardingView::currentIndex() const {
    return OnboardingModel::currentIndex(permissions_.statuses());
}

bool OnboardingView::showsSuccess() const {
    return pages_->currentIndex() == 1;
}

void OnboardingView::refresh() {
    if (permissions_.allGranted()) {
        pages_->setCurrentIndex(1);
        return;
    }
    const auto step = OnboardingModel::step(currentIndex());
    counter_->setText(QString::fromStdString(step.counter));
    heading_->setText(QString::fromStdString(step.heading));
    explanation_->setText(QString::fromStdString(step.explanation));
    request_->setText(QString::fromStdString(step.button));
    pages_->setCurrentIndex(0);
}

void OnboardingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    permissions_.refresh();
    refresh();
}

namespace {

// The close button only hides the window; Done drops it.
class OnboardingFrame final : public KeptWindow {
public:
    OnboardingFrame(PermissionsManager& permissions, std::function<void()> onDone) {
        setWindowTitle("Kestro setup");
        // A title bar with a close button only: the window is neither minimised nor resized.
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new OnboardingView(permissions, std::move(onDone), this);
        layout->addWidget(view);
        setFixedSize(520, 580);
    }
    OnboardingView* view = nullptr;
};

} // namespace

OnboardingWindow::~OnboardingWindow() {
    delete window_;
}

void OnboardingWindow::show(PermissionsManager& permissions) {
    if (auto* w = static_cast<OnboardingFrame*>(window_.data())) {
        permissions.refresh();
        w->view->refresh();
        bringForward(w);
        return;
    }
    auto* w = new OnboardingFrame(permissions, [this] { close(); });
    centreOnPrimaryScreen(w);
    window_ = w;
    bringForward(w);
}

void OnboardingWindow::close() {
    if (QWidget* w = window_) {
        w->hide();
        w->deleteLater();
        window_ = nullptr;
    }
}

QWidget* OnboardingWindow::window() const {
    return window_;
}

} // namespace kestro

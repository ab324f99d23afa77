// The recording indicator and the step panel as Qt widgets. Every call arrives on the
// main thread; while anything is shown the main thread's run loop hands Qt its events
// between its own tasks.

#include "capture/StepHUD.h"
#include "platform/MainThread.h"
#include "platform/Ui.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace vanto {
namespace {

QColor systemColour(UiColour colour) {
    switch (colour) {
    case UiColour::yellow:
        return QColor(255, 204, 0);
    case UiColour::red:
        return QColor(255, 59, 48);
    case UiColour::orange:
        return QColor(255, 149, 0);
    case UiColour::green:
        break;
    }
    return QColor(52, 199, 89);
}

constexpr Qt::WindowFlags floatingFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

QRect visibleFrame() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1440, 900);
}

// The information panel: caption, message and progress bar, drawn as designed.
class StepPanel final : public QWidget {
public:
    StepPanel() : QWidget(nullptr, floatingFlags) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setWindowTitle("Vanto step panel");
        setFixedSize(hudlayout::panelWidth, hudlayout::panelHeight);
    }

    void setContent(const PanelContent& content) {
        content_ = content;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        using namespace hudlayout;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath background;
        background.addRoundedRect(rect(), cornerRadius, cornerRadius);
        painter.fillPath(background, QColor(30, 30, 32, 220));

        // The design measures heights from the panel's bottom edge.
        auto fromBottom = [](int y, int height) { return panelHeight - y - height; };
        QFont caption = font();
        caption.setPointSize(captionPointSize);
        caption.setWeight(QFont::DemiBold);
        caption.setStyleHint(QFont::Monospace);
        painter.setFont(caption);
        painter.setPen(systemColour(content_.captionColour));
        painter.drawText(QRect(insetLeft, fromBottom(captionY, captionHeight), contentWidth, captionHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(content_.caption));

        QFont message = font();
        message.setPointSize(messagePointSize);
        message.setWeight(QFont::Medium);
        painter.setFont(message);
        painter.setPen(Qt::white);
        const QString text =
            QFontMetrics(message).elidedText(QString::fromStdString(content_.message), Qt::ElideRight, contentWidth);
        painter.drawText(QRect(insetLeft, fromBottom(messageY, messageHeight), contentWidth, messageHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, text);

        const QRectF track(insetLeft, fromBottom(trackY, trackHeight), contentWidth, trackHeight);
        QPainterPath trackPath;
        trackPath.addRoundedRect(track, trackCornerRadius, trackCornerRadius);
        painter.fillPath(trackPath, QColor(255, 255, 255, 60));
        QPainterPath fillPath;
        fillPath.addRoundedRect(QRectF(track.x(), track.y(), content_.fill * track.width(), track.height()),
                                trackCornerRadius, trackCornerRadius);
        painter.fillPath(fillPath, systemColour(content_.fillColour));
    }

private:
    PanelContent content_;
};

class QtPanels final : public Ui {
public:
    explicit QtPanels(MainThread& mainThread) : mainThread_(mainThread) {}

    void showIndicator(const std::string& title, UiColour colour, const std::string& tooltip) override {
        ensureApplication();
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            if (!tray_) tray_ = std::make_unique<QSystemTrayIcon>();
            QPixmap icon(22, 22);
            icon.fill(Qt::transparent);
            QPainter painter(&icon);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setBrush(systemColour(colour));
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(3, 3, 16, 16);
            tray_->setIcon(QIcon(icon));
            tray_->setToolTip(QString::fromStdString(title + " — " + tooltip));
            tray_->show();
        } else {
            // No tray on this desktop: a small label in front of every window.
            ensureLabel();
            label_->setText(QString::fromStdString(title));
            QPalette palette = label_->palette();
            palette.setColor(QPalette::WindowText, systemColour(colour));
            label_->setPalette(palette);
            label_->setToolTip(QString::fromStdString(tooltip));
            label_->adjustSize();
            const QRect frame = visibleFrame();
            label_->move(frame.right() - label_->width() - 8, frame.top() + 8);
            label_->show();
            label_->raise();
        }
        keepPumping();
    }

    void hideIndicator() override {
        if (tray_) tray_->hide();
        if (label_) label_->hide();
    }

    void showPanel(const PanelContent& content) override {
        ensurePanel();
        panel_->setContent(content);
        panel_->show();
        panel_->raise();
        keepPumping();
    }

    void showStopControl(const std::string& title, bool enabled, std::function<void()> onPress) override {
        ensureControl();
        onPress_ = std::move(onPress);
        button_->setText(QString::fromStdString(title));
        button_->setEnabled(enabled);
        control_->show();
        control_->raise();
        keepPumping();
    }

    void ensureControl() {
        ensureApplication();
        if (!control_) {
            control_ = std::make_unique<QWidget>(nullptr, floatingFlags);
            control_->setAttribute(Qt::WA_ShowWithoutActivating);
            control_->setWindowTitle("Vanto stop control");
            control_->setFixedWidth(hudlayout::controlWidth);
            auto* layout = new QVBoxLayout(control_.get()); // owned by its widget, as Qt does
            layout->setContentsMargins(4, 4, 4, 4);
            button_ = new QPushButton(control_.get());
            layout->addWidget(button_);
            QObject::connect(button_, &QPushButton::clicked, [this] {
                if (onPress_) {
                    auto press = onPress_; // the press may replace the action
                    press();
                }
            });
            control_->adjustSize();
            const QRect frame = visibleFrame();
            control_->move(frame.right() + 1 - hudlayout::screenMargin - hudlayout::controlWidth,
                           frame.bottom() + 1 - hudlayout::controlBottom - control_->height());
        }
    }

    void ensurePanel() {
        ensureApplication();
        if (!panel_) {
            panel_ = std::make_unique<StepPanel>();
            const QRect frame = visibleFrame();
            panel_->move(frame.right() + 1 - hudlayout::screenMargin - hudlayout::panelWidth,
                         frame.bottom() + 1 - hudlayout::screenMargin - hudlayout::panelHeight);
        }
    }

    void ensureLabel() {
        ensureApplication();
        if (!label_) {
            label_ = std::make_unique<QLabel>(nullptr, floatingFlags);
            label_->setAttribute(Qt::WA_ShowWithoutActivating);
            label_->setWindowTitle("Vanto recording indicator");
            label_->setMargin(4);
            label_->setStyleSheet("QLabel { background: rgba(30,30,32,230); font-weight: 600; }");
        }
    }

    void hidePanels() override {
        if (panel_) panel_->hide();
        if (control_) control_->hide();
        onPress_ = nullptr;
    }

    // Every panel's window is made now, shown or not, so that a recording can leave out
    // a panel that appears only after it started.
    std::vector<std::uint32_t> panelWindowIDs() override {
        ensurePanel();
        ensureControl();
        ensureLabel();
        std::vector<std::uint32_t> ids;
        for (QWidget* widget :
             {static_cast<QWidget*>(panel_.get()), control_.get(), static_cast<QWidget*>(label_.get())})
            ids.push_back(static_cast<std::uint32_t>(widget->winId()));
        return ids;
    }

    // The global shortcut needs a keyboard grab the toolkit does not offer; the Stop
    // button is the way to stop from the panel.
    bool startKeyMonitor(KeyDown) override { return false; }
    void stopKeyMonitor() override {}

    void runFor(double seconds) override {
        if (!QApplication::instance()) return;
        QElapsedTimer timer;
        timer.start();
        const auto limit = static_cast<qint64>(seconds * 1000);
        while (timer.elapsed() < limit)
            QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(limit - timer.elapsed()));
    }

private:
    void ensureApplication() {
        if (QApplication::instance()) return;
        static int argc = 1;
        static char name[] = "vanto";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    bool anythingShown() const {
        return (panel_ && panel_->isVisible()) || (control_ && control_->isVisible()) ||
               (label_ && label_->isVisible()) || (tray_ && tray_->isVisible());
    }

    // Hands Qt its events in slices of 30 ms between the run loop's own tasks, for as
    // long as something is on screen.
    void keepPumping() {
        if (pumping_) return;
        pumping_ = true;
        mainThread_.post([this] { pump(); });
    }

    void pump() {
        QEventLoop slice;
        QTimer::singleShot(30, &slice, &QEventLoop::quit);
        slice.exec();
        if (!anythingShown()) {
            pumping_ = false;
            return;
        }
        mainThread_.post([this] { pump(); });
    }

    MainThread& mainThread_;
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QLabel> label_;
    std::unique_ptr<StepPanel> panel_;
    std::unique_ptr<QWidget> control_;
    QPushButton* button_ = nullptr; // a child of control_
    std::function<void()> onPress_;
    bool pumping_ = false;
};

} // namespace

std::unique_ptr<Ui> makeDesktopPanels(MainThread& mainThread) {
    return std::make_unique<QtPanels>(mainThread);
}

} // namespace vanto

// The recording indicator, the step panel and the picker's question as Qt widgets.
// Every call arrives on the main thread; while anything is shown the main thread's run
// loop hands Qt its events between its own tasks.

#include "app/QtApplication.h"
#include "capture/StepHUD.h"
#include "platform/EventSink.h"
#include "platform/MainThread.h"
#include "platform/Ui.h"
#include "platform/linux/X11Properties.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QColor>
#include <QCursor>
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

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

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
    case UiColour::secondary:
        return QColor(235, 235, 245, 153); // secondary label text on a dark panel
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

QNativeInterface::QX11Application* x11() {
    return qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

// The information panel: caption, message and progress bar, drawn as designed. It
// only informs, so clicks go through it to the application beneath (a cookie banner
// in the page's corner, say).
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
    void hideEvent(QHideEvent*) override { passesClicks_ = false; }

    void paintEvent(QPaintEvent*) override {
        letClicksThrough();
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
    // An empty input shape. Qt's WindowTransparentForInput sets one before the window
    // is mapped, which the window manager's frame (openbox's) does not take over: the
    // frame went on taking the clicks. A shape set once the window is managed is
    // copied to the frame; the first paint comes after that, on every showing.
    void letClicksThrough() {
        if (passesClicks_) return;
        auto* native = x11();
        if (!native || !native->display()) return;
        // Refused (the window went in the meantime): tried again at the next paint.
        passesClicks_ = x11::passClicksThrough(native->display(), winId());
    }

    PanelContent content_;
    bool passesClicks_ = false;
};

// The picker's question: a small dark panel with the question, the hint and the
// reading of what lies under the pointer. It sits in a corner of the screen, and moves
// to the corner farthest from the pointer whenever the pointer comes near it, so that
// it never covers what the person points at.
class PickerPanel final : public QWidget {
public:
    PickerPanel() : QWidget(nullptr, floatingFlags) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setWindowTitle("Vanto picker");
        setFixedWidth(width_);
        auto* layout = new QVBoxLayout(this); // owned by its widget, as Qt does
        layout->setContentsMargins(16, 12, 16, 12);
        layout->setSpacing(6);
        question_ = line(layout, 13, QFont::DemiBold, Qt::white);
        hint_ = line(layout, 11, QFont::Normal, QColor(255, 255, 255, 200));
        reading_ = line(layout, 11, QFont::Medium, systemColour(UiColour::secondary));
    }

    void ask(const std::string& question, const std::string& hint) {
        question_->setText(QString::fromStdString(question));
        hint_->setText(QString::fromStdString(hint));
        reading_->clear();
        adjustSize();
        placeAwayFromPointer(true);
    }

    void setReading(const std::string& reading, UiColour colour) {
        QPalette palette = reading_->palette();
        palette.setColor(QPalette::WindowText, systemColour(colour));
        reading_->setPalette(palette);
        reading_->setText(QString::fromStdString(reading));
        adjustSize();
        placeAwayFromPointer(false);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath background;
        background.addRoundedRect(rect(), 12, 12);
        painter.fillPath(background, QColor(30, 30, 32, 235));
    }

private:
    static constexpr int width_ = 480;
    static constexpr int margin_ = 24;
    // How close the pointer may come before the panel gets out of its way.
    static constexpr int clearance_ = 48;

    QLabel* line(QVBoxLayout* layout, int points, QFont::Weight weight, const QColor& colour) {
        auto* label = new QLabel(this);
        QFont font = label->font();
        font.setPointSize(points);
        font.setWeight(weight);
        label->setFont(font);
        label->setWordWrap(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
        layout->addWidget(label);
        return label;
    }

    void placeAwayFromPointer(bool always) {
        const QPoint pointer = QCursor::pos();
        if (!always && !geometry().adjusted(-clearance_, -clearance_, clearance_, clearance_).contains(pointer)) return;
        const QRect frame = visibleFrame();
        const int left = frame.left() + margin_, right = frame.right() + 1 - margin_ - width();
        const int top = frame.top() + margin_, bottom = frame.bottom() + 1 - margin_ - height();
        QPoint best;
        double farthest = -1;
        for (const QPoint corner :
             {QPoint(right, top), QPoint(left, top), QPoint(right, bottom), QPoint(left, bottom)}) {
            const QPointF middle = QRectF(corner, size()).center();
            const double dx = middle.x() - pointer.x(), dy = middle.y() - pointer.y();
            if (const double distance = dx * dx + dy * dy; distance > farthest) {
                farthest = distance;
                best = corner;
            }
        }
        move(best);
    }

    QLabel* question_ = nullptr; // children of the panel
    QLabel* hint_ = nullptr;
    QLabel* reading_ = nullptr;
};

// The stop shortcut on X11: a passive grab of Ctrl+Alt+period on the root window, on
// the toolkit's own connection, so the press arrives with Qt's events on the main
// thread. The grab takes the chord from the application in front, so it is held only
// while somebody watches for it. It is made once for each state of the lock keys
// (Caps Lock, Num Lock), which would otherwise make the chord a different one.
class StopShortcut final : public QAbstractNativeEventFilter {
public:
    using Pressed = std::function<void()>;

    ~StopShortcut() override { release(); }

    // False when the chord cannot be grabbed (no X11 connection, or another client
    // holds it).
    bool grab(Pressed pressed) {
        release();
        auto* native = x11();
        if (!native || !native->connection()) return false;
        connection_ = native->connection();
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        root_ = xcb_setup_roots_iterator(setup).data->root;
        keycode_ = periodKeycode(connection_, setup);
        if (keycode_ == 0) return false;
        std::vector<xcb_void_cookie_t> cookies;
        for (std::uint16_t locks : lockStates())
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, chordModifiers | locks, keycode_,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        bool all = true;
        for (xcb_void_cookie_t cookie : cookies)
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                std::free(error);
                all = false;
            }
        grabbed_ = true;
        if (!all) {
            release();
            return false;
        }
        pressed_ = std::move(pressed);
        qApp->installNativeEventFilter(this);
        return true;
    }

    void release() {
        if (qApp) qApp->removeNativeEventFilter(this);
        pressed_ = nullptr;
        if (!grabbed_) return;
        grabbed_ = false;
        for (std::uint16_t locks : lockStates()) xcb_ungrab_key(connection_, keycode_, root_, chordModifiers | locks);
        xcb_flush(connection_);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || !pressed_) return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        if (press->detail != keycode_ || press->event != root_) return false;
        auto pressed = pressed_; // the press may release the grab
        pressed();
        return true;
    }

private:
    static constexpr std::uint16_t chordModifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

    // Caps Lock, and Num Lock on Mod2 as X keyboards map it.
    static std::vector<std::uint16_t> lockStates() {
        return {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    }

    static xcb_keycode_t periodKeycode(xcb_connection_t* connection, const xcb_setup_t* setup) {
        constexpr xcb_keysym_t period = 0x2e;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
            nullptr);
        if (!reply) return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        const int per = reply->keysyms_per_keycode;
        xcb_keycode_t found = 0;
        for (int key = 0; key < count && found == 0 && per > 0; ++key)
            if (syms[key * per] == period) found = static_cast<xcb_keycode_t>(setup->min_keycode + key);
        std::free(reply);
        return found;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_keycode_t keycode_ = 0;
    bool grabbed_ = false;
    Pressed pressed_;
};

// The Stop control names the chord as this desktop spells it.
std::string withDesktopChord(std::string title) {
    const std::string designed = "⌘⌥.";
    if (auto at = title.find(designed); at != std::string::npos) title.replace(at, designed.size(), "Ctrl+Alt+.");
    return title;
}

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
        button_->setText(QString::fromStdString(withDesktopChord(title)));
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

    void ensurePicker() {
        ensureApplication();
        if (!picker_) picker_ = std::make_unique<PickerPanel>();
    }

    void showPicker(const std::string& question, const std::string& hint) override {
        ensurePicker();
        picker_->ask(question, hint);
        picker_->show();
        picker_->raise();
        keepPumping();
    }

    void setPickerReading(const std::string& reading, UiColour colour) override {
        if (picker_ && picker_->isVisible()) picker_->setReading(reading, colour);
    }

    void hidePicker() override {
        if (picker_) picker_->hide();
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
    // a panel that appears only after it started (the picker's question included).
    std::vector<std::uint32_t> panelWindowIDs() override {
        ensurePanel();
        ensureControl();
        ensureLabel();
        ensurePicker();
        std::vector<std::uint32_t> ids;
        for (QWidget* widget : {static_cast<QWidget*>(panel_.get()), control_.get(),
                                static_cast<QWidget*>(label_.get()), static_cast<QWidget*>(picker_.get())})
            ids.push_back(static_cast<std::uint32_t>(widget->winId()));
        return ids;
    }

    // The one chord the panels listen for, Ctrl+Alt+period, reported in the design's
    // terms: Control as command (as everywhere on this desktop) and Alt as option.
    bool startKeyMonitor(KeyDown onKeyDown) override {
        ensureApplication();
        return shortcut_.grab(
            [onKeyDown = std::move(onKeyDown)] { onKeyDown(modifier::command | modifier::option, "."); });
    }
    void stopKeyMonitor() override { shortcut_.release(); }

    void runFor(double seconds) override {
        if (!QApplication::instance()) return;
        QElapsedTimer timer;
        timer.start();
        const auto limit = static_cast<qint64>(seconds * 1000);
        while (timer.elapsed() < limit)
            QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(limit - timer.elapsed()));
    }

private:
    void ensureApplication() { ensureQtApplication(); }

    bool anythingShown() const {
        return (panel_ && panel_->isVisible()) || (control_ && control_->isVisible()) ||
               (label_ && label_->isVisible()) || (tray_ && tray_->isVisible()) || (picker_ && picker_->isVisible());
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
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QLabel> label_;
    std::unique_ptr<StepPanel> panel_;
    std::unique_ptr<QWidget> control_;
    std::unique_ptr<PickerPanel> picker_;
    QPushButton* button_ = nullptr; // a child of control_
    std::function<void()> onPress_;
    StopShortcut shortcut_;
    bool pumping_ = false;
};

} // namespace

std::unique_ptr<Ui> makeDesktopPanels(MainThread& mainThread) {
    return std::make_unique<QtPanels>(mainThread);
}

} // namespace vanto

// The desktop window: the prompt pane, the account item, the menu and the settings
// window, as Qt widgets over one engine. The widgets only show and hand on: what
// Record checks, what a take runs with and what every dialog says come from the
// desk layer. Takes run on a thread of their own; their questions come back here.

#include "app/DesktopWindow.h"

#include "agent/Agent.h"
#include "agent/RunLog.h"
#include "app/QtApplication.h"
#include "base/Error.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudRuns.h"
#include "cloud/HeldRun.h"
#include "desk/MemoryPane.h"
#include "desk/PromptHistory.h"
#include "desk/SettingsPanes.h"
#include "desk/SheetDesk.h"
#include "desk/TakeFlow.h"
#include "engine/Engine.h"
#include "plan/Plan.h"
#include "platform/Handoff.h"
#include "platform/RunLoop.h"
#include "platform/linux/LinuxResolver.h"
#include "stage/StageBrowser.h"
#include "targets/Picker.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <atomic>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vanto {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Every control carries the name a person (or a test) finds it by through AT-SPI.
template <class Widget> Widget* named(Widget* widget, const QString& name) {
    widget->setAccessibleName(name);
    return widget;
}

QLabel* wrapped(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAccessibleName(text);
    return label;
}

QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = wrapped(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// An alert that does not block the main thread: answer gets the index of the button
// chosen, or -1 when it closed some other way.
QMessageBox* showAlert(QWidget* parent, const TakeFlow::Alert& alert, QMessageBox::Icon icon,
                       std::function<void(int)> answer) {
    auto* box = new QMessageBox(icon, "Vanto", qs(alert.message), QMessageBox::NoButton, parent);
    box->setAccessibleName(qs(alert.message));
    box->setInformativeText(qs(alert.informative));
    box->setAttribute(Qt::WA_DeleteOnClose);
    auto buttons = std::make_shared<std::vector<QAbstractButton*>>();
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        const auto& title = alert.buttons[i];
        const auto role = i == 0                                 ? QMessageBox::AcceptRole
                          : title == "Cancel" || title == "Done" ? QMessageBox::RejectRole
                                                                 : QMessageBox::ActionRole;
        auto* button = box->addButton(qs(title), role);
        button->setAccessibleName(qs(title));
        buttons->push_back(button);
        if (role == QMessageBox::RejectRole) box->setEscapeButton(button);
    }
    if (!buttons->empty()) box->setDefaultButton(static_cast<QPushButton*>(buttons->front()));
    // Answered once: a box rejected again (by a quit) before its deferred delete would
    // otherwise finish a second time.
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, answer = std::move(answer)](int) mutable {
        if (!answer) return;
        int chosen = -1;
        for (std::size_t i = 0; i < buttons->size(); ++i)
            if ((*buttons)[i] == box->clickedButton()) chosen = static_cast<int>(i);
        std::exchange(answer, nullptr)(chosen);
    });
    box->open();
    return box;
}

// ---- the settings window ----------------------------------------------------------

class SettingsWindow final : public QWidget {
public:
    // openStage starts or shows the stage browser; the main window owns that work.
    SettingsWindow(Engine& engine, std::function<void()> openStage)
        : QWidget(nullptr, Qt::Window), engine_(engine), openStage_(std::move(openStage)) {
        setWindowTitle("Vanto Settings");
        setAccessibleName("Vanto Settings");
        resize(620, 460);
        auto* layout = new QVBoxLayout(this);
        tabs_ = named(new QTabWidget(this), "Settings panes");
        layout->addWidget(tabs_);
        tabs_->addTab(permissionsPane(), "Permissions");
        tabs_->addTab(memoryPane(), "Memory");
        tabs_->addTab(agentsPane(), "Agents");
    }

    void refresh() {
        refreshPermissions();
        refreshMemory();
        refreshAgents();
    }

    void showPane(int index) {
        tabs_->setCurrentIndex(index);
        refresh();
        show();
        raise();
        activateWindow();
    }

private:
    struct PermissionRow {
        Permission permission;
        QLabel* status = nullptr;
        QPushButton* button = nullptr;
    };

    QWidget* permissionsPane() {
        auto* pane = new QWidget(this);
        auto* layout = new QVBoxLayout(pane);
        for (Permission permission : {Permission::screenRecording, Permission::accessibility}) {
            const auto texts = PermissionsPane::row(permission, false, false);
            auto* row = new QGridLayout;
            row->addWidget(heading(qs(texts.title), pane), 0, 0);
            row->addWidget(wrapped(qs(texts.explanation), pane), 1, 0);
            PermissionRow entry{permission};
            entry.status = named(new QLabel(pane), qs(texts.title + " status"));
            row->addWidget(entry.status, 0, 1, Qt::AlignRight);
            entry.button = new QPushButton(pane);
            row->addWidget(entry.button, 1, 1, Qt::AlignRight);
            row->setColumnStretch(0, 1);
            layout->addLayout(row);
            QObject::connect(entry.button, &QPushButton::clicked, this, [this, permission] { pressed(permission); });
            rows_.push_back(entry);
        }
        note_ = named(wrapped("", pane), "Permissions note");
        layout->addWidget(note_);
        layout->addStretch(1);
        return pane;
    }

    bool granted(Permission permission) {
        auto& permissions = engine_.platform().permissions;
        return permission == Permission::screenRecording ? permissions.screenCapturePreflight()
                                                         : permissions.accessibilityTrusted(false);
    }

    bool asked(Permission permission) {
        return engine_.platform().defaults.boolValue(PermissionsPane::askedKey(permission), false);
    }

    void refreshPermissions() {
        for (auto& entry : rows_) {
            const bool on = granted(entry.permission);
            const auto row = PermissionsPane::row(entry.permission, on, asked(entry.permission));
            entry.status->setText(qs(row.status));
            entry.status->setStyleSheet(on ? "color: #34c759; font-weight: 600;" : "color: #ff9500; font-weight: 600;");
            entry.button->setText(qs(row.button));
            named(entry.button, qs(row.button + " " + row.title));
        }
        const auto note = PermissionsPane::note(granted(Permission::screenRecording),
                                                granted(Permission::accessibility), switchedOnHere_);
        note_->setText(qs(note));
        note_->setAccessibleName(note.empty() ? "Permissions note" : qs(note));
        note_->setVisible(!note.empty());
    }

    void pressed(Permission permission) {
        const bool on = granted(permission);
        if (PermissionsPane::press(on, asked(permission)) == PermissionsPane::Press::showWhere) {
            showAlert(this, PermissionsPane::where(permission), QMessageBox::Information, nullptr);
            return;
        }
        try {
            engine_.platform().defaults.set(PermissionsPane::askedKey(permission), true);
        } catch (const std::exception&) {
            // Not stored: the next press asks again, which does no harm.
        }
        if (permission == Permission::screenRecording) {
            engine_.platform().permissions.requestScreenCapture();
        } else {
            // The same request a prompt run makes: the session's accessibility switch is turned on.
            switchedOnHere_ = engine_.permissions(true).accessibility;
        }
        refreshPermissions();
    }

    QWidget* memoryPane() {
        auto* pane = new QWidget(this);
        auto* layout = new QVBoxLayout(pane);
        layout->addWidget(heading(MemoryPane::heading, pane));
        layout->addWidget(wrapped(MemoryPane::explanation, pane));
        memoryStatus_ = named(new QLabel(pane), "Memory status");
        layout->addWidget(memoryStatus_);
        forget_ = named(new QToolButton(pane), MemoryPane::forgetTitle);
        forget_->setText(MemoryPane::forgetTitle);
        forget_->setPopupMode(QToolButton::InstantPopup);
        forgetMenu_ = new QMenu(forget_);
        forgetMenu_->setAccessibleName(MemoryPane::forgetTitle);
        forget_->setMenu(forgetMenu_);
        layout->addWidget(forget_, 0, Qt::AlignLeft);
        layout->addStretch(1);
        return pane;
    }

    void refreshMemory() {
        auto& store = engine_.corrections();
        const auto entries = store.entries();
        memoryStatus_->setText(qs(MemoryPane::status(entries)));
        memoryStatus_->setAccessibleName(qs(MemoryPane::status(entries)));
        forgetMenu_->clear();
        for (const auto& app : MemoryPane::applications(entries)) {
            auto* item = forgetMenu_->addAction(qs(app));
            QObject::connect(item, &QAction::triggered, this, [this, app] {
                engine_.corrections().forget(app);
                refreshMemory();
            });
        }
        forgetMenu_->addSeparator();
        auto* everything = forgetMenu_->addAction(MemoryPane::everything);
        QObject::connect(everything, &QAction::triggered, this, [this] {
            engine_.corrections().forgetEverything();
            refreshMemory();
        });
    }

    struct AgentSwitch {
        std::string key;
        QCheckBox* box = nullptr;
    };

    QWidget* agentsPane() {
        auto* pane = new QWidget(this);
        auto* layout = new QVBoxLayout(pane);
        const auto switches = AgentsPane::switches(engine_.platform().defaults);
        auto addSwitch = [&](const AgentsPane::Switch& entry) {
            auto* box = named(new QCheckBox(qs(entry.heading), pane), qs(entry.heading));
            layout->addWidget(box);
            layout->addWidget(wrapped(qs(entry.explanation), pane));
            const std::string key = entry.key;
            QObject::connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
                if (refreshing_) return;
                try {
                    engine_.platform().defaults.set(key, on);
                } catch (const std::exception& error) {
                    showAlert(this, {"The setting was not saved", error.what(), {"OK"}}, QMessageBox::Warning, nullptr);
                }
                refreshAgents();
            });
            switches_.push_back({key, box});
        };
        addSwitch(switches[0]);
        auto* stage = named(new QPushButton(AgentsPane::stageHeading, pane), AgentsPane::stageHeading);
        QObject::connect(stage, &QPushButton::clicked, this, [this] { openStage_(); });
        layout->addWidget(stage, 0, Qt::AlignLeft);
        layout->addWidget(wrapped(AgentsPane::stageExplanation, pane));
        addSwitch(switches[1]);
        addSwitch(switches[2]);

        layout->addSpacing(12);
        layout->addWidget(wrapped(AgentsPane::invitation, pane));
        auto* copy = named(new QPushButton("Copy", pane), "Copy");
        QObject::connect(copy, &QPushButton::clicked, this, [copy] {
            QApplication::clipboard()->setText(QString::fromUtf8(AgentsPane::copiedText));
            copy->setText(AgentsPane::copied);
            copy->setAccessibleName(AgentsPane::copied);
        });
        auto* setUp = named(new QPushButton(AgentsPane::setUpButton, pane), AgentsPane::setUpButton);
        QObject::connect(setUp, &QPushButton::clicked, this, [this] {
            auto& platform = engine_.platform();
            QDesktopServices::openUrl(QUrl(qs(AgentsPane::setUpAddress(platform.paths, platform.processes))));
        });
        auto* actions = new QHBoxLayout;
        actions->addWidget(setUp);
        actions->addWidget(copy);
        actions->addStretch(1);
        layout->addLayout(actions);
        layout->addStretch(1);
        return pane;
    }

    void refreshAgents() {
        refreshing_ = true;
        const auto switches = AgentsPane::switches(engine_.platform().defaults);
        for (const auto& entry : switches)
            for (auto& shown : switches_)
                if (shown.key == entry.key) {
                    shown.box->setChecked(entry.on);
                    shown.box->setEnabled(entry.enabled);
                }
        refreshing_ = false;
    }

    Engine& engine_;
    std::function<void()> openStage_;
    QTabWidget* tabs_ = nullptr;
    std::vector<PermissionRow> rows_;
    QLabel* note_ = nullptr;
    bool switchedOnHere_ = false;
    QLabel* memoryStatus_ = nullptr;
    QToolButton* forget_ = nullptr;
    QMenu* forgetMenu_ = nullptr;
    std::vector<AgentSwitch> switches_;
    bool refreshing_ = false;
};

// ---- the main window ----------------------------------------------------------------

class MainWindow final : public QMainWindow, public CloudRuns::Window {
public:
    MainWindow(Engine& engine, RunLoop& loop) : engine_(engine), loop_(loop), history_(engine.platform().defaults) {
        setWindowTitle("Vanto");
        setAccessibleName("Vanto");
        resize(640, 480);
        buildMenu();
        buildAccountItem();
        buildPromptPane();
        showPane();
        refreshRecent();
        refreshAccount();
    }

    ~MainWindow() override {
        // The cloud runs go first: nothing of theirs may call into a window going away.
        // A run still recording keeps its held run for the next launch to settle.
        forgetCloudQuestion();
        cloud_.reset();
        // A take or a connection still going is called off and waited for, so that
        // nothing outlives the engine it uses.
        if (take_.joinable()) {
            if (stop_) stop_->set();
            take_.request_stop();
        }
        stageTask_.request_stop();
        accountTask_.request_stop();
    }

    // Opens a sheet in the demo pane; one opened from outside (the command line, another
    // program) may ask to record itself.
    void openSheet(const std::filesystem::path& location, bool fromOutside) {
        auto& platform = engine_.platform();
        const SheetDesk::Situation situation{fromOutside, running_, asking_, engine_.configStore().load().has_value()};
        auto opening = SheetDesk::open(
            location, situation,
            {platform.defaults, platform.extendedAttributes, platform.permissions, platform.clock, platform.random});
        for (const auto& complaint : opening.complaints) complain(complaint);
        if (opening.answersTheQuestion && consentBox_) {
            anotherSheet_ = true;
            consentBox_->reject();
        }
        if (!opening.sheet) return;
        sheet_ = std::move(opening.sheet);
        showPane();
        loadScene(sheet_->progress.selected);
        show();
        raise();
        activateWindow();
        if (opening.recordsItself) recordUnattended(*sheet_, true);
    }

    // A later launch's request: its sheet opens as one opened from outside; without one
    // the window just comes forward.
    void handedOver(const HandoffRequest& request) {
        if (quitting_) return;
        if (request.sheet) return openSheet(*request.sheet, true);
        show();
        raise();
        activateWindow();
    }

    // Once, at launch: assistants' requests are looked for from now on.
    void startCloudRuns() {
        auto& platform = engine_.platform();
        CloudRuns::Seams seams{platform.mainThread,
                               platform.clock,
                               platform.defaults,
                               platform.random,
                               [this] { return engine_.serviceClient(); },
                               CloudGuard::resolve(systemResolver_),
                               HeldRun::location(engine_.configStore().url()),
                               platform.paths.dataDir() / "Runs"};
        cloud_ = std::make_unique<CloudRuns>(std::move(seams), *this);
        cloud_->start();
    }

    // ---- what the cloud runs ask of the window (on the main thread) ----

    bool isRecording() override { return running_; }

    void record(CloudRuns::Recording recording) override {
        OpenSheet sheet{recording.folder / "sheet.json", DemoProgress(std::move(recording.sheet)),
                        std::move(recording.report),     recording.reportFile,
                        std::move(recording.driver),     std::move(recording.policy)};
        // The first take goes where the claim said; later ones where the last ended.
        if (recording.placement) {
            sheet.progress.videoID = recording.placement->videoID;
            sheet.progress.endOfLastTake = recording.placement->atSeconds;
        }
        cloudSaved_ = std::move(recording.saved);
        cloudEnded_ = std::move(recording.ended);
        recordUnattended(std::move(sheet), false);
    }

    void stopCloudTake() override {
        if (running_ && cloudEnded_ && stop_) stop_->set();
    }

    void ask(const CloudRuns::Question& question, std::function<void(CloudRuns::Answer)> answered) override {
        forgetCloudQuestion();
        show();
        raise();
        activateWindow();
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(qs(question.title));
        dialog->setAccessibleName(qs(question.title));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setModal(true);
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(heading(qs(question.title), dialog));
        auto* text = wrapped(qs(question.text), dialog);
        text->setMinimumWidth(420);
        layout->addWidget(text);
        auto* row = new QHBoxLayout;
        row->addStretch(1);
        auto chosen = std::make_shared<std::optional<CloudRuns::Answer>>();
        const std::pair<const char*, CloudRuns::Answer> buttons[] = {
            {CloudRuns::allowButton, CloudRuns::Answer::allow},
            {CloudRuns::alwaysAllowButton, CloudRuns::Answer::alwaysAllow},
            {CloudRuns::declineButton, CloudRuns::Answer::decline}};
        for (const auto& [title, meaning] : buttons) {
            const auto answer = meaning; // a copy: lambdas may not capture a structured binding
            auto* button = named(new QPushButton(title, dialog), title);
            // Return answers nothing: recording someone else's demo takes a deliberate click.
            button->setAutoDefault(false);
            button->setDefault(false);
            QObject::connect(button, &QPushButton::clicked, dialog, [dialog, chosen, answer] {
                *chosen = answer;
                dialog->accept();
            });
            row->addWidget(button);
        }
        layout->addLayout(row);
        // Escape, the window's close button and every other way out decline.
        QObject::connect(dialog, &QDialog::finished, dialog, [chosen, answered = std::move(answered)](int) {
            answered(chosen->value_or(CloudRuns::Answer::decline));
        });
        cloudQuestion_ = dialog;
        dialog->open();
    }

    void alwaysAllowedChanged() override {
        if (settings_ && settings_->isVisible()) settings_->refresh();
    }

    std::optional<std::int64_t> screenHeight() override {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().front();
        if (!screen) return std::nullopt;
        return screen->availableGeometry().height();
    }

    bool permissionsMissing() override {
        const auto granted = engine_.permissions(false);
        return !granted.screenRecording || !granted.accessibility;
    }

    // Quitting during a take calls it off first; the window goes once it has ended.
    void quit() {
        quitting_ = true;
        // Unanswered, the request stays this machine's: the next launch settles it.
        forgetCloudQuestion();
        stageTask_.request_stop();
        if (!running_) return quitWhenIdle();
        if (stop_) stop_->set();
        take_.request_stop();
        for (auto& dialog : questions_)
            if (dialog) dialog->reject();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        quit();
    }

private:
    void buildMenu() {
        auto* menu = menuBar()->addMenu("&Vanto");
        menu->setAccessibleName("Vanto menu");
        auto* openSheet = menu->addAction("Open Demo Sheet\u2026");
        openSheet->setShortcut(QKeySequence::Open);
        QObject::connect(openSheet, &QAction::triggered, this, [this] { chooseSheet(); });
        auto* settings = menu->addAction("Settings\u2026");
        settings->setShortcut(QKeySequence("Ctrl+,"));
        QObject::connect(settings, &QAction::triggered, this, [this] { openSettings(0); });
        menu->addSeparator();
        auto* quitting = menu->addAction("Quit");
        quitting->setShortcut(QKeySequence::Quit);
        QObject::connect(quitting, &QAction::triggered, this, [this] { quit(); });
    }

    void buildAccountItem() {
        auto* bar = addToolBar("Account");
        bar->setAccessibleName("Account bar");
        bar->setMovable(false);
        auto* spacer = new QWidget(bar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        bar->addWidget(spacer);
        account_ = named(new QToolButton(bar), "Account");
        account_->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(account_);
        menu->setAccessibleName("Account menu");
        connectAction_ = menu->addAction("Connect\u2026");
        disconnectAction_ = menu->addAction("Disconnect");
        QObject::connect(connectAction_, &QAction::triggered, this, [this] { connectAccount(); });
        QObject::connect(disconnectAction_, &QAction::triggered, this, [this] { disconnectAccount(); });
        account_->setMenu(menu);
        bar->addWidget(account_);
    }

    void buildPromptPane() {
        auto* pane = new QWidget(this);
        auto* layout = new QVBoxLayout(pane);
        buildDemoPane(pane, layout);

        auto* promptRow = new QHBoxLayout;
        promptRow->addWidget(new QLabel("What should the demo show?", pane), 1);
        recent_ = named(new QToolButton(pane), "Recent prompts");
        recent_->setText("Recent");
        recent_->setPopupMode(QToolButton::InstantPopup);
        recentMenu_ = new QMenu(recent_);
        recentMenu_->setAccessibleName("Recent prompts menu");
        recent_->setMenu(recentMenu_);
        promptRow->addWidget(recent_);
        layout->addLayout(promptRow);

        prompt_ = named(new QPlainTextEdit(pane), "Prompt");
        prompt_->setPlaceholderText("A 60-second demo of \u2026");
        prompt_->setTabChangesFocus(true);
        layout->addWidget(prompt_, 1);

        auto* form = new QFormLayout;
        speed_ = named(new QSpinBox(pane), "Keyboard speed");
        speed_->setRange(4, 80);
        speed_->setSingleStep(1);
        speed_->setSuffix(" characters a second");
        speed_->setValue(static_cast<int>(TakeFlow::keyboardSpeed(engine_.platform().defaults)));
        form->addRow("Keyboard speed", speed_);
        video_ = named(new QLineEdit(pane), "Video");
        video_->setPlaceholderText("A video's ID or link, to add this take to it");
        form->addRow("Into video", video_);
        time_ = named(new QLineEdit(pane), "Time");
        time_->setPlaceholderText("Where in it, like 1:30");
        form->addRow("At", time_);
        layout->addLayout(form);

        auto* bottom = new QHBoxLayout;
        status_ = named(new QLabel(pane), "Status");
        status_->setWordWrap(true);
        bottom->addWidget(status_, 1);
        record_ = named(new QPushButton("Record", pane), "Record");
        record_->setDefault(true);
        QObject::connect(record_, &QPushButton::clicked, this, [this] { record(); });
        bottom->addWidget(record_);
        layout->addLayout(bottom);
        setCentralWidget(pane);
    }

    void refreshRecent() {
        recentMenu_->clear();
        const auto prompts = history_.prompts();
        for (const auto& prompt : prompts) {
            auto* item = recentMenu_->addAction(qs(prompt));
            QObject::connect(item, &QAction::triggered, this, [this, prompt] { prompt_->setPlainText(qs(prompt)); });
        }
        recent_->setEnabled(!prompts.empty());
    }

    void setStatus(const std::string& text) {
        status_->setText(qs(text));
        status_->setAccessibleDescription(qs(text));
    }

    // ---- the account item ----

    void showAccount(const AccountStatus& account) {
        const QString shown = account.connected ? qs(account.email.value_or("Connected")) : "Not connected";
        account_->setText(shown);
        account_->setAccessibleDescription(shown);
        connectAction_->setEnabled(!account.connected);
        disconnectAction_->setEnabled(account.connected);
    }

    // The account's questions go to the service, so they are asked off the main thread.
    void onAccountThread(std::function<AccountStatus(std::stop_token)> work, const QString& busy) {
        if (accountBusy_) return;
        accountBusy_ = true;
        account_->setText(busy);
        if (accountTask_.joinable()) accountTask_.join();
        accountTask_ = std::jthread([this, work = std::move(work)](std::stop_token stop) {
            std::optional<AccountStatus> status;
            std::string failure;
            try {
                status = work(stop);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            if (stop.stop_requested()) return;
            loop_.post([this, status, failure] {
                accountBusy_ = false;
                if (status) {
                    showAccount(*status);
                } else {
                    showAccount(AccountStatus{});
                    showAlert(this, {"Vanto could not reach your account", failure, {"OK"}}, QMessageBox::Warning,
                              nullptr);
                }
            });
        });
    }

    void refreshAccount() {
        // Quitting stops the check: a service that does not answer must not hold the exit.
        onAccountThread([this](std::stop_token stop) { return engine_.account(stop); }, "Checking\u2026");
    }

    void connectAccount() {
        onAccountThread([this](std::stop_token stop) { return engine_.connect(std::nullopt, std::nullopt, stop); },
                        "Connecting in your browser\u2026");
    }

    void disconnectAccount() {
        onAccountThread([this](std::stop_token) { return engine_.disconnect(); }, "Disconnecting\u2026");
    }

    // ---- a take ----

    void complain(const TakeFlow::Complaint& complaint) {
        const auto said = complaints_.complain(complaint);
        if (!said) {
            std::cerr << "vanto: " << *complaints_.unsaid() << "\n";
            return;
        }
        showAlert(this, {said->title, said->detail, {"OK"}}, QMessageBox::Warning, nullptr);
    }

    void record() {
        auto fields = TakeFlow::read(prompt_->toPlainText().toStdString(), video_->text().toStdString(),
                                     time_->text().toStdString(), running_);
        if (sheet_) fields.heldScene = SheetDesk::heldScene(*sheet_);
        const auto begun = TakeFlow::begin(fields);
        if (const auto* complaint = std::get_if<TakeFlow::Complaint>(&begun)) return complain(*complaint);
        if (const auto* take = std::get_if<TakeFlow::Take>(&begun)) start(*take);
    }

    void start(const TakeFlow::Take& take) {
        if (quitting_) return;
        auto& defaults = engine_.platform().defaults;
        try {
            history_.remember(take.prompt);
            defaults.set(TakeFlow::keyboardSpeedKey, speed_->value());
        } catch (const std::exception& error) {
            // The take does not depend on either; the person hears of it all the same.
            std::cerr << "vanto: the window's settings were not saved: " << error.what() << "\n";
        }
        refreshRecent();
        const double speed = TakeFlow::keyboardSpeed(defaults);
        const bool linked = engine_.configStore().load().has_value();
        std::optional<OpenSheet> sheet;
        std::optional<std::size_t> scene;
        RunParams params;
        if (sheet_) {
            scene = sheet_->progress.selected;
            if (auto failed = SheetDesk::started(*sheet_, *scene)) complain(*failed);
            refreshPane();
            sheet = sheet_;
            params = SheetDesk::runParams(*sheet_, *scene, take, engine_.defaultOutputURL(), linked, nullptr);
        } else {
            params = TakeFlow::runParams(take, engine_.defaultOutputURL(), linked);
        }
        running_ = true;
        setStatus("Starting the take\u2026");
        auto stop = std::make_shared<StopFlag>();
        stop_ = stop;
        if (take_.joinable()) take_.join();
        take_ = std::jthread([this, params, sheet, scene, stop, speed](std::stop_token token) {
            runTake(params, sheet, scene, stop, speed, token);
        });
    }

    // On the take's own thread: one run of the agent, and what it came to for the result
    // dialog and for the sheet. A driven scene's driver is made ready here, and a
    // sheet's stage browser brought up and placed, so that either failing fails the
    // take like any other run's error. Unattended: nobody pressed Record for it.
    std::pair<TakeFlow::Outcome, TakeResult> runOne(RunParams params, const std::optional<OpenSheet>& sheet,
                                                    std::optional<std::size_t> scene, Agent::Callbacks callbacks,
                                                    const ProgressLog& log, std::stop_token token,
                                                    bool unattended = false) {
        TakeFlow::Outcome outcome;
        TakeResult taken{TakeFailure{}, false};
        outcome.path = params.output.string();
        const auto stopped = callbacks.stopped;
        {
            // Gone before the window hears of the end: the window waits for this thread then.
            Agent agent = engine_.makeAgent(log, std::move(callbacks));
            try {
                if (sheet && scene) {
                    params.driver = SheetDesk::driverFor(*sheet, *scene, engine_.platform().clock);
                    auto desktop = stageDesktop();
                    SheetDesk::putOnStage(params, *sheet, stageProfile(), desktop, token);
                }
                const auto report = agent.run(params, token);
                outcome.uploadURL = report.uploadURL;
                if (!report.path.empty()) outcome.path = report.path;
                taken = unattended ? SheetDesk::unattendedResult(report, params, stopped && stopped())
                                   : SheetDesk::result(report, params);
            } catch (const PlanError& error) {
                outcome.error = error.what();
                outcome.plannerAsked = true;
            } catch (const std::exception& error) {
                outcome.error = error.what();
            }
        }
        if (outcome.error) taken = {TakeFailure{*outcome.error}, false};
        outcome.learned = !engine_.corrections().touchedKeys().empty();
        return {outcome, taken};
    }

    std::filesystem::path stageProfile() { return StageBrowser::profile(engine_.platform().paths); }

    // What the stage browser needs of the desktop; its window is placed through the
    // accessibility interface, on the main thread as every use of the resolver.
    StageBrowser::Desktop stageDesktop() {
        auto& platform = engine_.platform();
        return {platform.processes, platform.windows, platform.clock, [this](std::int32_t pid, const Rect& frame) {
                    engine_.platform().mainThread.run([&] { engine_.resolver().windows().place(pid, frame); });
                }};
    }

    ProgressLog statusLog() {
        return ProgressLog(std::cerr,
                           [this](const std::string& line) { loop_.post([this, line] { setStatus(line); }); });
    }

    // On the take's own thread.
    void runTake(const RunParams& params, const std::optional<OpenSheet>& sheet, std::optional<std::size_t> scene,
                 const std::shared_ptr<StopFlag>& stop, double speed, std::stop_token token) {
        Agent::Callbacks callbacks;
        callbacks.charsPerSecond = speed;
        callbacks.approve = [this](const std::vector<Step>& steps, const std::string& question) {
            return ask(TakeFlow::approval(steps, question), false) == 0;
        };
        callbacks.readyToRecord = [this] { return ask(TakeFlow::readyToRecord(), true) == 0; };
        callbacks.stopped = [stop] { return stop->isSet(); };
        const ProgressLog log = statusLog();
        callbacks.ask = [this, log, token](const std::string& question, std::int32_t pid) {
            auto& platform = engine_.platform();
            Picker picker(
                {platform.mainThread, platform.clock, platform.ui, platform.keys, platform.pointer, engine_.resolver()},
                {log, ProgressLog(std::cerr)}); // the picker's own notes stay out of the status line
            return picker.ask(question, pid, token);
        };
        auto ran = runOne(params, sheet, scene, std::move(callbacks), log, token);
        auto outcome = std::move(ran.first);
        const auto taken = ran.second;
        loop_.post([this, outcome, scene, taken] { finished(outcome, scene, taken); });
    }

    // A sheet that records itself (after the person's consent while agents may not
    // record) or an assistant's run (asked for elsewhere), on the take's thread: every
    // take without Record or approval.
    void recordUnattended(OpenSheet sheet, bool askConsentFirst) {
        // After Quit nothing new starts; an assistant's run stays held for the next launch.
        if (quitting_) return;
        running_ = true;
        complaints_.setSelfRecording(true);
        setStatus(SheetDesk::ended(sheet));
        auto stop = std::make_shared<StopFlag>();
        stop_ = stop;
        const bool linked = engine_.configStore().load().has_value();
        if (take_.joinable()) take_.join();
        take_ = std::jthread([this, sheet, stop, linked, askConsentFirst](std::stop_token token) mutable {
            SheetDesk::SelfRun run;
            if (askConsentFirst) run.ask = [this, file = sheet.reportFile()] { return askConsent(file); };
            run.record = [&, this](std::size_t scene, const std::optional<DemoProgress::Place>& place) {
                if (token.stop_requested()) throw SheetDesk::Quit{};
                const auto params =
                    SheetDesk::selfRecordingParams(sheet, scene, place, engine_.defaultOutputURL(), linked, nullptr);
                Agent::Callbacks callbacks;
                callbacks.charsPerSecond = TakeFlow::keyboardSpeed(engine_.platform().defaults);
                callbacks.stopped = [stop] { return stop->isSet(); };
                auto taken = runOne(params, sheet, scene, std::move(callbacks), statusLog(), token, true).second;
                if (token.stop_requested()) throw SheetDesk::Quit{};
                return taken;
            };
            run.changed = [this](const OpenSheet& now) {
                loop_.post([this, now] {
                    sheetChanged(now);
                    // While quitting an assistant's run hears nothing more: it stays held
                    // for the next launch to settle.
                    if (now.cloud && cloudSaved_ && !quitting_) cloudSaved_(now.report);
                });
            };
            run.complain = [this](const TakeFlow::Complaint& complaint) {
                loop_.post([this, complaint] { complain(complaint); });
            };
            SheetDesk::recordItself(sheet, engine_.platform().defaults, run);
            SheetDesk::leaveStage(sheet, stageProfile(), engine_.platform().processes);
            loop_.post([this, sheet] { selfRecordingEnded(sheet); });
        });
    }

    // Asks on the main thread whether agents may record, and waits here for the answer.
    AgentRecording::Answer askConsent(const std::filesystem::path& reportFile) {
        auto answer = std::make_shared<std::promise<AgentRecording::Answer>>();
        auto chosen = answer->get_future();
        loop_.post([this, reportFile, answer] {
            if (quitting_) {
                answer->set_value(AgentRecording::Answer::deny);
                return;
            }
            const auto& question = AgentRecording::question;
            asking_ = reportFile;
            anotherSheet_ = false;
            show();
            raise();
            activateWindow();
            auto* box = showAlert(this, {question.title, question.text, {question.allow, question.deny}},
                                  QMessageBox::Question, [this, answer](int index) {
                                      asking_.reset();
                                      answer->set_value(index == 0      ? AgentRecording::Answer::allow
                                                        : anotherSheet_ ? AgentRecording::Answer::anotherSheet
                                                                        : AgentRecording::Answer::deny);
                                  });
            consentBox_ = box;
            questions_.emplace_back(box);
        });
        try {
            return chosen.get();
        } catch (const std::future_error&) {
            return AgentRecording::Answer::deny; // the window closed before it could ask
        }
    }

    // The self-recording sheet's progress, shown while it is still the open sheet.
    void sheetChanged(const OpenSheet& now) {
        if (!sheet_ || sheet_->location != now.location) return;
        sheet_ = now;
        refreshPane();
    }

    void selfRecordingEnded(const OpenSheet& last) {
        running_ = false;
        if (take_.joinable()) take_.join();
        questions_.clear();
        complaints_.setSelfRecording(false);
        cloudSaved_ = nullptr;
        auto cloudEnded = std::exchange(cloudEnded_, nullptr);
        if (quitting_) return quitWhenIdle();
        if (cloudEnded) cloudEnded();
        setStatus(SheetDesk::ended(last));
        // As after a take of the person's: the window comes forward with how it went.
        show();
        raise();
        if (sheet_ && sheet_->location == last.location) {
            sheetChanged(last);
            loadScene(sheet_->progress.selected);
        }
    }

    // Asks on the main thread and waits here for the answer: the index of the button.
    // With goAhead, the window comes forward first and goes away on the first answer.
    int ask(const TakeFlow::Alert& alert, bool goAhead) {
        auto answer = std::make_shared<std::promise<int>>();
        auto chosen = answer->get_future();
        loop_.post([this, alert, goAhead, answer] {
            if (quitting_) {
                answer->set_value(-1);
                return;
            }
            engine_.hud().suspendStopping(TakeFlow::answerTheQuestion);
            if (quitting_) { // quit while the panel was being told
                engine_.hud().resumeStopping();
                answer->set_value(-1);
                return;
            }
            if (goAhead) {
                show();
                raise();
                activateWindow();
            }
            auto* box = showAlert(this, alert, QMessageBox::Question, [this, goAhead, answer](int index) {
                if (goAhead && index == 0) hide();
                engine_.hud().resumeStopping();
                answer->set_value(index);
            });
            questions_.emplace_back(box);
        });
        try {
            return chosen.get();
        } catch (const std::future_error&) {
            return -1; // the window closed before it could ask
        }
    }

    void finished(const TakeFlow::Outcome& outcome, std::optional<std::size_t> scene, const TakeResult& taken) {
        running_ = false;
        if (take_.joinable()) take_.join();
        questions_.clear();
        if (sheet_ && scene) {
            if (auto failed = SheetDesk::finished(*sheet_, *scene, taken)) complain(*failed);
            refreshPane();
            loadScene(sheet_->progress.selected);
        }
        if (quitting_) return quitWhenIdle();
        setStatus(outcome.error ? "The last take stopped." : "The last take is recorded.");
        show();
        raise();
        const auto alert = TakeFlow::result(outcome);
        showAlert(this, alert, outcome.error ? QMessageBox::Warning : QMessageBox::Information,
                  [this, alert, outcome](int index) {
                      if (index < 0) return;
                      const auto& button = alert.buttons[static_cast<std::size_t>(index)];
                      if (button == "Open" && outcome.uploadURL)
                          QDesktopServices::openUrl(QUrl(qs(*outcome.uploadURL)));
                      else if (button == TakeFlow::showButton)
                          QDesktopServices::openUrl(
                              QUrl::fromLocalFile(qs(std::filesystem::path(outcome.path).parent_path().string())));
                      else if (button == TakeFlow::forgetButton)
                          engine_.corrections().forgetThisRun();
                  });
    }

    // ---- the demo pane ----

    void buildDemoPane(QWidget* parent, QVBoxLayout* layout) {
        demoPane_ = new QWidget(parent);
        auto* column = new QVBoxLayout(demoPane_);
        column->setContentsMargins(0, 0, 0, 0);
        sheetTitle_ = named(heading("", demoPane_), "Demo sheet");
        column->addWidget(sheetTitle_);
        scenes_ = named(new QListWidget(demoPane_), "Scenes");
        scenes_->setSelectionMode(QAbstractItemView::SingleSelection);
        QObject::connect(scenes_, &QListWidget::currentRowChanged, this, [this](int row) { selectScene(row); });
        column->addWidget(scenes_, 1);
        editorList_ = named(wrapped("", demoPane_), "Left for the editor");
        column->addWidget(editorList_);
        layout->addWidget(demoPane_, 1);
    }

    void showPane() {
        demoPane_->setVisible(sheet_.has_value());
        if (!sheet_) return;
        resize(width(), std::max(height(), 640));
        sheetTitle_->setText(qs(sheet_->progress.sheet.title));
        sheetTitle_->setAccessibleDescription(qs(sheet_->progress.sheet.title));
        refreshPane();
    }

    void refreshPane() {
        if (!sheet_) return;
        const auto rows = SheetDesk::rows(*sheet_);
        const QSignalBlocker quiet(scenes_);
        scenes_->clear();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            auto* item = new QListWidgetItem(qs(rows[i].text), scenes_);
            item->setData(Qt::AccessibleTextRole, qs(rows[i].text));
            if (rows[i].selected) scenes_->setCurrentRow(static_cast<int>(i));
        }
        const auto remaining = sheet_->progress.remainingInTheEditor();
        QString text;
        for (const auto& line : remaining) text += (text.isEmpty() ? "" : "\n") + qs(line);
        editorList_->setText(remaining.empty() ? QString() : "Left for the editor:\n" + text);
        editorList_->setAccessibleDescription(text);
        editorList_->setVisible(!remaining.empty());
    }

    void selectScene(int row) {
        if (!sheet_ || row < 0) return;
        sheet_->progress.selected = static_cast<std::size_t>(row);
        loadScene(sheet_->progress.selected);
    }

    // The scene's prompt, and where the last take ended, into the pane's fields.
    void loadScene(std::size_t scene) {
        if (!sheet_ || running_) return;
        const auto fields = SheetDesk::load(*sheet_, scene);
        prompt_->setPlainText(qs(fields.prompt));
        video_->setText(qs(fields.video));
        time_->setText(qs(fields.time));
    }

    void chooseSheet() {
        auto* dialog = new QFileDialog(this, "Open Demo Sheet", QString(), "Demo sheets (*.json);;All files (*)");
        dialog->setAccessibleName("Open Demo Sheet");
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QFileDialog::fileSelected, this,
                         [this](const QString& file) { openSheet(file.toStdString(), false); });
        dialog->open();
    }

    // The consent question of an assistant's run goes unanswered.
    void forgetCloudQuestion() {
        if (!cloudQuestion_) return;
        QObject::disconnect(cloudQuestion_, &QDialog::finished, nullptr, nullptr);
        cloudQuestion_->close();
    }

    // Starts the stage browser for the default stage, or brings the running one to its
    // place, off the main thread: a launch waits up to 20 seconds for its window.
    void openStage() {
        if (stageBusy_ || quitting_) return;
        stageBusy_ = true;
        if (stageTask_.joinable()) stageTask_.join();
        stageTask_ = std::jthread([this](std::stop_token stop) {
            std::optional<std::string> failure;
            try {
                auto desktop = stageDesktop();
                StageBrowser::ensure(Stage{}, stageProfile(), desktop, stop);
            } catch (const Cancelled&) {
            } catch (const std::exception& error) {
                failure = error.what();
            }
            loop_.post([this, failure] { stageOpened(failure); });
        });
    }

    void stageOpened(const std::optional<std::string>& failure) {
        stageBusy_ = false;
        if (stageTask_.joinable()) stageTask_.join();
        if (quitting_) return quitWhenIdle();
        if (failure)
            showAlert(settings_ ? static_cast<QWidget*>(settings_.get()) : this,
                      {"The stage browser could not be opened", *failure, {"OK"}}, QMessageBox::Warning, nullptr);
    }

    // The window goes once nothing of its own still runs: a take's or the stage
    // browser's thread may be waiting on this main loop.
    void quitWhenIdle() {
        if (!running_ && !stageBusy_) loop_.quit();
    }

    void openSettings(int pane) {
        if (!settings_) settings_ = std::make_unique<SettingsWindow>(engine_, [this] { openStage(); });
        settings_->showPane(pane);
    }

    Engine& engine_;
    RunLoop& loop_;
    PromptHistory history_;
    QPlainTextEdit* prompt_ = nullptr; // children of the window, as Qt owns them
    QToolButton* recent_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QSpinBox* speed_ = nullptr;
    QLineEdit* video_ = nullptr;
    QLineEdit* time_ = nullptr;
    QPushButton* record_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* account_ = nullptr;
    QAction* connectAction_ = nullptr;
    QAction* disconnectAction_ = nullptr;
    std::unique_ptr<SettingsWindow> settings_;
    QWidget* demoPane_ = nullptr;
    QLabel* sheetTitle_ = nullptr;
    QListWidget* scenes_ = nullptr;
    QLabel* editorList_ = nullptr;
    std::optional<OpenSheet> sheet_;
    SheetDesk::Complaints complaints_;
    // The report of the sheet the person is asked about, and that question's dialog.
    std::optional<std::filesystem::path> asking_;
    QPointer<QMessageBox> consentBox_;
    bool anotherSheet_ = false;
    std::vector<QPointer<QMessageBox>> questions_;
    std::shared_ptr<StopFlag> stop_;
    // The assistant's run being recorded: told of each save and, once, of its end.
    std::function<void(const SheetReport&)> cloudSaved_;
    std::function<void()> cloudEnded_;
    QPointer<QDialog> cloudQuestion_;
    LinuxResolver systemResolver_;
    std::unique_ptr<CloudRuns> cloud_;
    bool running_ = false;
    bool quitting_ = false;
    bool stageBusy_ = false;
    bool accountBusy_ = false;
    // Last: they end (and are waited for) before anything they use.
    std::jthread accountTask_;
    std::jthread take_;
    std::jthread stageTask_;
};

// Hands Qt its events in slices between the run loop's own tasks, for as long as the
// window is up; the engine's main-thread work (the panels, the picker) runs between.
void pump(RunLoop& loop, const std::shared_ptr<std::atomic<bool>>& open) {
    if (!*open) return;
    QEventLoop slice;
    QTimer::singleShot(30, &slice, &QEventLoop::quit);
    slice.exec();
    loop.post([&loop, open] { pump(loop, open); });
}

} // namespace

int runDesktopWindow(Engine& engine, RunLoop& mainLoop, const std::optional<std::filesystem::path>& sheet) {
    if (const char* display = std::getenv("DISPLAY"); !display || !*display) {
        std::cerr << "vanto: the desktop window needs a display, and DISPLAY is not set\n";
        return 1;
    }
    std::unique_ptr<MainWindow> window;
    auto open = std::make_shared<std::atomic<bool>>(true);
    mainLoop.post([&] {
        ensureQtApplication();
        window = std::make_unique<MainWindow>(engine, mainLoop);
        window->show();
        if (sheet) window->openSheet(*sheet, true);
        window->startCloudRuns();
        pump(mainLoop, open);
    });
    // A termination request (a logout, say) or Ctrl-C in the terminal that started the
    // window quits as the menu's Quit does, so a sheet recording itself says why it
    // stopped; a second one ends the process at once.
    auto& terminal = engine.platform().terminal;
    auto interrupts = std::make_shared<std::atomic<int>>(0);
    terminal.watchInterrupts([&mainLoop, &window, &terminal, interrupts] {
        if ((*interrupts)++ > 0) terminal.endProcess(130);
        mainLoop.post([&window] {
            if (window) window->quit();
        });
    });
    // This window is the person's one: later launches hand it their requests, taken on
    // the main thread. When another window listens already, this one still serves.
    auto& handoff = engine.platform().handoff;
    handoff.listen([&mainLoop, &window](HandoffRequest request) {
        mainLoop.post([&window, request] {
            if (window) window->handedOver(request);
        });
    });
    mainLoop.park();
    handoff.stop();
    terminal.unwatchInterrupts();
    *open = false;
    window.reset();
    return 0;
}

} // namespace vanto

#include "tandem/shell/qt/QtDesktop.h"

#include "base/ActivityLog.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <atomic>
#include <stdexcept>

namespace tandem {

namespace {

// "o" → Ctrl+O (Command-O on a Mac); an upper-case letter adds Shift, as a Mac key equivalent does.
QKeySequence shortcutFor(const std::string& key) {
    if (key.empty()) return {};
    const QString text = QString::fromStdString(key);
    const bool shifted = text.size() == 1 && text.at(0).isUpper();
    return QKeySequence(QStringLiteral("Ctrl+") + (shifted ? QStringLiteral("Shift+") : QString()) +
                            text.toUpper(),
                        QKeySequence::PortableText);
}

// Windows whose actions are their content, not their shortcuts.
bool showsActions(QWidget* window) {
    return qobject_cast<QMenu*>(window) || window->contextMenuPolicy() == Qt::ActionsContextMenu;
}

// Hands the main menu's shortcuts to every top-level window as it is shown (an application-wide
// shortcut works only while some widget carrying it is visible) and remembers the last window that
// was active.
class WindowWatch final : public QObject {
public:
    QList<QAction*> shortcuts;
    QPointer<QWidget> lastActive;

    void carry(QWidget* window) {
        if (showsActions(window)) return;
        for (QAction* action : shortcuts) {
            if (!window->actions().contains(action)) window->addAction(action);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if ((type == QEvent::Show || type == QEvent::WindowActivate) && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow()) {
                if (type == QEvent::Show) carry(widget);
                if (type == QEvent::WindowActivate && !showsActions(widget)) lastActive = widget;
            }
        }
        return false;
    }
};

} // namespace

struct QtDesktop::Parts {
    QIcon icon;
    CardFactory makeCard;
    ChoiceFactory makeChoice;
    std::optional<ActivationPolicy> policy;
    std::string toolTip = "Tandem";
    std::unique_ptr<ChoiceWindow> choice;
    bool willTerminateSent = false;
    // Declared in the order they may go: the tray refers to its menu, the windows to the main menu's
    // actions, and the watch to those actions.
    std::unique_ptr<WindowWatch> watch;
    std::unique_ptr<QMenu> mainMenu;
    std::unique_ptr<QMenu> statusMenu;
    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<QObject> context; // ends the application signal connections with this object
};

QtDesktop::QtDesktop(QIcon icon, CardFactory makeCard, ChoiceFactory makeChoice)
    : parts(std::make_unique<Parts>()) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) throw std::logic_error("QtDesktop needs a QApplication");
    parts->icon = std::move(icon);
    parts->makeCard = std::move(makeCard);
    parts->makeChoice = std::move(makeChoice);
    // Closing the choice, card or Webcam windows never ends Tandem.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    parts->context = std::make_unique<QObject>();
    QObject::connect(application, &QCoreApplication::aboutToQuit, parts->context.get(), [this] {
        if (std::exchange(parts->willTerminateSent, true)) return;
        if (auto handler = onWillTerminate) handler();
    });
    parts->watch = std::make_unique<WindowWatch>();
    application->installEventFilter(parts->watch.get());
}

QtDesktop::~QtDesktop() {
    if (parts->tray) parts->tray->hide();
    parts->tray.reset();
    parts->statusMenu.reset();
    parts->mainMenu.reset(); // its actions leave the windows that carried them
    parts->watch.reset();    // a destroyed filter is removed from the application
    parts->choice.reset();
    parts->context.reset();
}

std::string QtDesktop::version() {
    return QCoreApplication::applicationVersion().toStdString();
}

void QtDesktop::setActivationPolicy(ActivationPolicy policy) {
    parts->policy = policy;
}

std::optional<ActivationPolicy> QtDesktop::activationPolicy() const {
    return parts->policy;
}

void QtDesktop::installMenus(const std::vector<MenuEntry>& entries) {
    if (parts->tray) parts->tray->hide();
    parts->tray.reset();
    parts->watch->shortcuts.clear();
    parts->statusMenu = std::make_unique<QMenu>();
    parts->mainMenu = std::make_unique<QMenu>();
    for (const MenuEntry& entry : entries) {
        if (entry.title.empty()) {
            parts->mainMenu->addSeparator();
            parts->statusMenu->addSeparator();
            continue;
        }
        const QString title = QString::fromStdString(entry.title);
        auto run = [action = entry.action] {
            if (action) action();
        };
        QAction* main = parts->mainMenu->addAction(title);
        main->setEnabled(entry.enabled);
        QObject::connect(main, &QAction::triggered, main, run);
        if (!entry.mainKey.empty()) {
            main->setShortcut(shortcutFor(entry.mainKey));
            main->setShortcutContext(Qt::ApplicationShortcut);
            parts->watch->shortcuts.append(main);
        }
        // The status menu's keys are shown beside its entries; pressing them is the main menu's work
        // (a menu that is not open takes no shortcuts, so the two never compete for a key).
        QAction* status = parts->statusMenu->addAction(title);
        status->setEnabled(entry.enabled);
        status->setShortcut(shortcutFor(entry.statusKey));
        QObject::connect(status, &QAction::triggered, status, run);
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) parts->watch->carry(window);
    }

    parts->tray = std::make_unique<QSystemTrayIcon>(parts->icon);
    parts->tray->setToolTip(QString::fromStdString(parts->toolTip));
    parts->tray->setContextMenu(parts->statusMenu.get());
    // A click opens the menu, as the Mac's status item does; the context click opens it anyway.
    QObject::connect(parts->tray.get(), &QSystemTrayIcon::activated, parts->tray.get(),
                     [menu = parts->statusMenu.get()](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) menu->popup(QCursor::pos());
                     });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        parts->tray->show();
    } else {
        static std::atomic<bool> noted{false};
        if (!noted.exchange(true)) ActivityLog::write(noTrayNotice);
    }
}

void QtDesktop::setMenuEntryEnabled(const std::string& title, bool enabled) {
    const QString text = QString::fromStdString(title);
    for (QMenu* menu : {parts->mainMenu.get(), parts->statusMenu.get()}) {
        if (!menu) continue;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator() && action->text() == text) action->setEnabled(enabled);
        }
    }
}

void QtDesktop::setStatusToolTip(const std::string& text) {
    parts->toolTip = text;
    if (parts->tray) parts->tray->setToolTip(QString::fromStdString(text));
}

void QtDesktop::activate() {
    QList<QWidget*> shown;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (!window->isVisible() || window->isMinimized() || type == Qt::Popup || type == Qt::ToolTip)
            continue;
        shown.append(window);
    }
    QWidget* key = parts->watch->lastActive;
    if (!key || !shown.contains(key)) {
        key = nullptr;
        for (QWidget* window : shown) {
            if (!window->testAttribute(Qt::WA_ShowWithoutActivating) &&
                !(window->windowFlags() & Qt::WindowDoesNotAcceptFocus)) {
                key = window;
                break;
            }
        }
    }
    for (QWidget* window : shown) {
        if (window != key) window->raise();
    }
    if (key) {
        key->raise();
        key->activateWindow();
    }
}

std::unique_ptr<CardWindow> QtDesktop::openCard(const CardWindowPlan& plan) {
    if (!parts->makeCard) throw std::logic_error("QtDesktop has no card windows to make");
    return parts->makeCard(plan);
}

ChoiceWindow& QtDesktop::choiceWindow() {
    if (!parts->choice) {
        if (parts->makeChoice) parts->choice = parts->makeChoice();
        if (!parts->choice) throw std::logic_error("QtDesktop has no choice window to make");
    }
    return *parts->choice;
}

void QtDesktop::terminate() {
    // QCoreApplication::exit does nothing outside the loop, so the request waits in it. exit rather
    // than quit: Tandem has decided to end, no window gets a say.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

QSystemTrayIcon* QtDesktop::statusItem() const {
    return parts->tray.get();
}

QMenu* QtDesktop::statusMenu() const {
    return parts->statusMenu.get();
}

QMenu* QtDesktop::mainMenu() const {
    return parts->mainMenu.get();
}

} // namespace tandem

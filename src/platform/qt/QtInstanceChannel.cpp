#include "platform/qt/QtInstanceChannel.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>

namespace tandem {

namespace {

using Steady = std::chrono::steady_clock;

// Questions are one short line; anything longer is not one of ours.
constexpr qsizetype longestLine = 64;
// A connection that has not asked its question by then is dropped.
constexpr int questionWithinMs = 2000;

enum class Reach {
    absent,  // no socket, or nobody listens on it (its owner ended)
    foreign, // another user's process listens there
    silent,  // somebody listens but gave no answer in time
    answered,
};

struct Exchange {
    Reach reach = Reach::absent;
    std::optional<int32_t> listener; // the listening process, as the kernel names it
    std::string reply;
};

int millisecondsLeft(Steady::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::optional<int32_t> number(std::string_view text) {
    int32_t value = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return value;
}

// One question and its one-line answer, all within `wait` seconds.
Exchange ask(const QString& name, const QByteArray& question, double wait) {
    Exchange exchange;
    const auto deadline =
        Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(wait));
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(millisecondsLeft(deadline))) {
        const auto error = socket.error();
        exchange.reach =
            error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
                ? Reach::absent
                : Reach::silent;
        return exchange;
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) == 0) {
        if (credentials.uid != ::getuid()) {
            exchange.reach = Reach::foreign;
            return exchange;
        }
        if (credentials.pid > 0) exchange.listener = credentials.pid;
    }
    exchange.reach = Reach::silent;
    socket.write(question + '\n');
    socket.flush();
    QByteArray received;
    for (;;) {
        received += socket.readAll();
        if (qsizetype end = received.indexOf('\n'); end >= 0) {
            exchange.reply = received.left(end).toStdString();
            exchange.reach = Reach::answered;
            break;
        }
        const int left = millisecondsLeft(deadline);
        if (received.size() > longestLine || left == 0 || socket.state() != QLocalSocket::ConnectedState)
            break;
        socket.waitForReadyRead(left);
    }
    socket.abort();
    return exchange;
}

} // namespace

QtInstanceChannel::QtInstanceChannel(std::string bundleIdentifier, std::string applicationName,
                                     std::string serverName, double wait)
    : bundleIdentifier(std::move(bundleIdentifier))
    , applicationName(std::move(applicationName))
    , name(serverName.empty() ? serverNameFor(this->bundleIdentifier) : std::move(serverName))
    , wait(std::isfinite(wait) && wait > 0 ? wait : 0.5) {}

QtInstanceChannel::~QtInstanceChannel() {
    // Closing removes the socket, so the next copy finds the name free at once.
    if (server) server->close();
}

std::string QtInstanceChannel::serverNameFor(const std::string& bundleIdentifier) {
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    return folder.toStdString() + "/" + bundleIdentifier + "." + std::to_string(::getuid());
}

const std::string& QtInstanceChannel::serverName() const {
    return name;
}

bool QtInstanceChannel::isListening() const {
    return listening;
}

bool QtInstanceChannel::listen(std::function<void()> handler) {
    if (listening) return true;
    const QString socketName = QString::fromStdString(name);
    // Two copies starting together take turns; without the lock the check below still protects a
    // live owner, only two simultaneous claims could then both succeed.
    QLockFile claim(socketName + ".lock");
    claim.tryLock(static_cast<int>(wait * 1000) + 1000);
    if (ask(socketName, "pid", wait).reach != Reach::absent) return false;
    QLocalServer::removeServer(socketName); // what an owner that ended left behind
    auto made = std::make_unique<QLocalServer>();
    if (!made->listen(socketName)) return false;
    QLocalServer* raw = made.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* socket = raw->nextPendingConnection())
            answer(socket);
    });
    onActivate = std::move(handler);
    server = std::move(made);
    listening = true;
    return true;
}

void QtInstanceChannel::answer(QLocalSocket* socket) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(questionWithinMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    auto received = std::make_shared<QByteArray>();
    auto read = [this, socket, received] {
        received->append(socket->readAll());
        const qsizetype end = received->indexOf('\n');
        if (end < 0) {
            if (received->size() > longestLine) {
                socket->abort();
                socket->deleteLater();
            }
            return;
        }
        const std::string question = received->left(end).toStdString();
        received->clear();
        std::string reply = "unknown";
        if (question == "pid") {
            reply = std::to_string(::getpid());
        } else if (question.rfind("activate ", 0) == 0) {
            reply = "refused";
            if (number(std::string_view(question).substr(9)) == ::getpid()) {
                if (auto handler = onActivate) handler();
                reply = "activated";
            }
        }
        socket->write(QByteArray::fromStdString(reply + "\n"));
        socket->disconnectFromServer(); // after what was written has gone out
    };
    QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
    if (socket->bytesAvailable() > 0) read();
}

std::optional<RunningApplication> QtInstanceChannel::find() {
    std::optional<int32_t> pid;
    if (listening) {
        pid = ::getpid();
    } else {
        Exchange exchange = ask(QString::fromStdString(name), "pid", wait);
        if (exchange.reach == Reach::answered) pid = number(exchange.reply);
        // An owner whose event loop is not running yet cannot answer, but it is there.
        if (!pid && exchange.reach != Reach::foreign) pid = exchange.listener;
    }
    if (!pid) return std::nullopt;
    return RunningApplication{bundleIdentifier, *pid, false, applicationName, true};
}

bool QtInstanceChannel::activate(int32_t processIdentifier) {
    if (processIdentifier <= 0) return false;
    if (listening) {
        // This process owns the name, so no other process can be the one asked for.
        if (processIdentifier != ::getpid()) return false;
        auto handler = onActivate;
        if (!handler) return true;
        if (QThread::currentThread() == server->thread()) {
            handler();
        } else {
            QMetaObject::invokeMethod(server.get(), handler, Qt::QueuedConnection);
        }
        return true;
    }
    Exchange exchange = ask(QString::fromStdString(name),
                            QByteArray::fromStdString("activate " + std::to_string(processIdentifier)), wait);
    return exchange.reach == Reach::answered && exchange.reply == "activated";
}

} // namespace tandem
